#!/bin/bash
# Replaces the application bundle with a new build once the running application has ended,
# then starts whichever bundle stands at the bundle path and removes the work folder.
#
# Arguments: the application's process id, the installed bundle (OLD), the new bundle
# (NEW, inside the work folder) and the work folder (WORK).
#
# The new bundle is copied next to the installed one first; only then do two renames
# within the same folder swap them. A kill at any moment leaves one of these states:
#   1. OLD is the previous bundle, untouched; a partial OLD.update-new may stand beside it
#      (killed while copying or before the first rename). The next run removes it.
#   2. OLD is missing, OLD.update-bak is the complete previous bundle and OLD.update-new
#      the complete new one (killed between the two renames). Renaming OLD.update-bak back
#      to OLD recovers; a later run of this script does that before anything else.
#   3. OLD is the complete new bundle and OLD.update-bak the previous one, complete or
#      partly removed (killed before the backup was gone).
#   4. OLD is the new bundle and no backup is left (killed while starting it or removing
#      the work folder).
# A failure in any step restores state 1 (putting the backup back when OLD is missing).

PID="$1"
OLD="$2"
NEW="$3"
WORK="$4"

if [ -z "$PID" ] || [ -z "$OLD" ] || [ -z "$NEW" ] || [ -z "$WORK" ]; then
    echo "usage: apply-update.sh PID OLD NEW WORK" >&2
    exit 2
fi

# The application's working folder may lie inside the bundle that is about to move.
cd / || exit 1

BAK="$OLD.update-bak"
STAGED="$OLD.update-new"

# The same log file as the application's own: XDG_STATE_HOME when it is absolute.
case "$XDG_STATE_HOME" in
    /*) LOG_DIR="$XDG_STATE_HOME/Nolar" ;;
    *) LOG_DIR="$HOME/.local/state/Nolar" ;;
esac

log() {
    mkdir -p -m 700 "$LOG_DIR" 2>/dev/null
    # Like the application: never through a link planted at the log's path.
    [ -L "$LOG_DIR/nolar.log" ] || (umask 077; echo "$(date) $1" >> "$LOG_DIR/nolar.log")
}

# The executable a bundle's Info.plist (XML form) names; "nolar" when it cannot be read.
executableOf() {
    local name
    name="$(tr -d '\r\n' 2>/dev/null < "$1/Contents/Info.plist" |
        sed -n 's|.*<key>CFBundleExecutable</key>[[:space:]]*<string>\([^<]*\)</string>.*|\1|p' 2>/dev/null)"
    case "$name" in
        "" | . | .. | */*) echo "nolar" ;;
        *) echo "$name" ;;
    esac
}

# Starts whichever bundle stands at OLD, detached, with this environment (display, session bus),
# and removes the work folder.
relaunch() {
    setsid "$OLD/Contents/Linux/$(executableOf "$OLD")" < /dev/null > /dev/null 2>&1 &
    rm -rf "$WORK"
}

# Wait about 15 seconds at most for the application to end, then go on regardless.
for ((i = 0; i < 150; i++)); do
    kill -0 "$PID" 2>/dev/null || break
    sleep 0.1
done

# An earlier run killed between its renames left the previous bundle only in the backup.
if [ ! -e "$OLD" ] && [ -d "$BAK" ]; then
    mv -T "$BAK" "$OLD"
fi
rm -rf "$BAK"
rm -rf "$STAGED"

# A bundle that cannot start must never replace one that can.
NEW_EXE="$NEW/Contents/Linux/$(executableOf "$NEW")"
if [ -L "$NEW" ] || [ ! -f "$NEW_EXE" ] || [ ! -x "$NEW_EXE" ]; then
    log "update FAILED, restored"
    relaunch
    exit 0
fi

# -T: never move or copy into a folder that happens to stand at the target.
swap() {
    cp -a -T "$NEW" "$STAGED" || return 1
    mv -T "$OLD" "$BAK" || return 1
    mv -T "$STAGED" "$OLD" || return 1
}

rollback() {
    if [ ! -e "$OLD" ] && [ -d "$BAK" ]; then
        mv -T "$BAK" "$OLD"
    fi
    rm -rf "$STAGED"
}

if swap; then
    rm -rf "$BAK"
    log "updated OK"
else
    rollback
    log "update FAILED, restored"
fi

relaunch
