# Shared helpers of the installer script's tests: real bundles in a disposable folder whose
# path holds blanks, a private HOME and state folder, and pass/fail counting.

SCRIPT="$1"
if [ ! -f "$SCRIPT" ]; then
    echo "usage: bash $0 <path of apply-update.sh>" >&2
    exit 2
fi

PASSED=0
FAILED=0

check() {
    local what="$1"
    shift
    if "$@"; then
        PASSED=$((PASSED + 1))
    else
        FAILED=$((FAILED + 1))
        echo "FAIL: $what"
    fi
}

finish() {
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
}

# make_bundle DIR VERSION [EXECUTABLE-KEY]: a bundle whose executable appends
# "VERSION DISPLAY DBUS_SESSION_BUS_ADDRESS" to $NOLAR_TEST_MARKER when started.
make_bundle() {
    local dir="$1" version="$2" exe="${3-nolar}"
    mkdir -p "$dir/Contents/Linux" "$dir/Contents/Resources/deep/er"
    local key=""
    [ -n "$exe" ] && key="<key>CFBundleExecutable</key> <string>$exe</string>"
    cat > "$dir/Contents/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
    <key>CFBundleIdentifier</key> <string>org.nolar.Nolar</string>
    $key
    <key>CFBundleVersion</key> <string>$version</string>
</dict></plist>
PLIST
    printf '#!/bin/sh\necho "%s $DISPLAY $DBUS_SESSION_BUS_ADDRESS" >> "$NOLAR_TEST_MARKER"\n' "$version" \
        > "$dir/Contents/Linux/${exe:-nolar}"
    chmod 755 "$dir/Contents/Linux/${exe:-nolar}"
    head -c 300000 /dev/urandom > "$dir/Contents/Resources/data.bin"
    echo "$version" > "$dir/Contents/Resources/deep/er/version.txt"
    ln -s "deep/er/version.txt" "$dir/Contents/Resources/version-link"
}

# new_scene: OLD (build 27) installed, NEW (build 28) unpacked in WORK, references of both.
new_scene() {
    ROOT="$(mktemp -d "/tmp/nolar script test XXXXXX")"
    export HOME="$ROOT/home dir"
    export XDG_STATE_HOME="$ROOT/state dir"
    export NOLAR_TEST_MARKER="$ROOT/marker"
    mkdir -p "$HOME"
    LOG="$XDG_STATE_HOME/Nolar/nolar.log"
    OLD="$ROOT/Apps folder/Nolar.app"
    WORK="$ROOT/tmp/nolar-update-1 2"
    NEW="$WORK/unpacked/Nolar.app"
    make_bundle "$OLD" 27
    make_bundle "$NEW" 28
    echo "zip" > "$WORK/update.zip"
    mkdir -p "$ROOT/ref"
    cp -a "$OLD" "$ROOT/ref/old"
    cp -a "$NEW" "$ROOT/ref/new"
}

drop_scene() {
    rm -rf "$ROOT"
}

# A process id that has already ended.
ended_pid() {
    sh -c 'exit 0' &
    local pid="$!"
    wait "$pid"
    echo "$pid"
}

same_tree() {
    [ -d "$1" ] && diff -r --no-dereference "$1" "$2" > /dev/null 2>&1
}

is_old() { same_tree "$OLD" "$ROOT/ref/old"; }
is_new() { same_tree "$OLD" "$ROOT/ref/new"; }
absent() { [ ! -e "$1" ] && [ ! -L "$1" ]; }

# Waits (bounded) for the relaunched bundle to report in; prints what it reported.
relaunched() {
    local i
    for ((i = 0; i < 300; i++)); do
        if [ -s "$NOLAR_TEST_MARKER" ]; then
            cat "$NOLAR_TEST_MARKER"
            return 0
        fi
        sleep 0.05
    done
    return 1
}

last_log_line_ends_with() {
    [ -f "$LOG" ] && tail -n 1 "$LOG" | grep -q -- " $1\$"
}
