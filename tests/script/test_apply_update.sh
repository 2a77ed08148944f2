#!/bin/bash
# The installer script (the argument) with real bundles in a disposable folder whose path holds
# blanks, with a private HOME and state folder: the swap's failures, the relaunch, and SIGKILL
# before, midway through and after each of its file operations. (A whole update through it, with
# the relaunched build's display and bus, is the e2e update test's.)
SCRIPT="${1:?usage: bash test_apply_update.sh <path of apply-update.sh>}"
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

# make_bundle DIR VERSION [EXECUTABLE]: a bundle whose executable appends VERSION to
# $NOLAR_TEST_MARKER; an empty EXECUTABLE leaves the key out of Info.plist (the file is "nolar").
make_bundle() {
    local dir="$1" version="$2" exe="${3-nolar}"
    mkdir -p "$dir/Contents/Linux" "$dir/Contents/Resources/deep/er"
    cat > "$dir/Contents/Info.plist" <<PLIST
<plist version="1.0"><dict>
    <key>CFBundleIdentifier</key> <string>org.nolar.Nolar</string>
    ${exe:+<key>CFBundleExecutable</key> <string>$exe</string>}
    <key>CFBundleVersion</key> <string>$version</string>
</dict></plist>
PLIST
    printf '#!/bin/sh\necho %s >> "$NOLAR_TEST_MARKER"\n' "$version" > "$dir/Contents/Linux/${exe:-nolar}"
    chmod 755 "$dir/Contents/Linux/${exe:-nolar}"
    head -c 300000 /dev/urandom > "$dir/Contents/Resources/data.bin"
    echo "$version" > "$dir/Contents/Resources/deep/er/version.txt"
    ln -s "deep/er/version.txt" "$dir/Contents/Resources/version-link"
}

# new_scene: OLD (build 27) installed, NEW (build 28) unpacked in WORK, copies of both in ref/.
new_scene() {
    ROOT="$(mktemp -d "/tmp/nolar script test XXXXXX")"
    export HOME="$ROOT/home dir" XDG_STATE_HOME="$ROOT/state dir" NOLAR_TEST_MARKER="$ROOT/marker"
    LOG="$XDG_STATE_HOME/Nolar/nolar.log"
    OLD="$ROOT/Apps folder/Nolar.app"
    WORK="$ROOT/tmp/nolar-update-1 2"
    NEW="$WORK/unpacked/Nolar.app"
    mkdir -p "$HOME" "$ROOT/ref"
    make_bundle "$OLD" 27
    make_bundle "$NEW" 28
    cp -a "$OLD" "$ROOT/ref/old"
    cp -a "$NEW" "$ROOT/ref/new"
}

# The installer, for an application that has already ended.
run_installer() {
    sh -c 'exit 0' &
    wait "$!"
    bash "$SCRIPT" "$!" "$OLD" "$NEW" "$WORK"
}

same_tree() { [ -d "$1" ] && diff -r --no-dereference "$1" "$2" > /dev/null 2>&1; }
is_old() { same_tree "$OLD" "$ROOT/ref/old"; }
is_new() { same_tree "$OLD" "$ROOT/ref/new"; }
absent() { [ ! -e "$1" ] && [ ! -L "$1" ]; }
logged() { [ -f "$LOG" ] && tail -n 1 "$LOG" | grep -q -- " $1\$"; }

# Whether the build VERSION was started (waits, bounded, for it to report in).
relaunched() {
    local i
    for ((i = 0; i < 300; i++)); do
        [ -s "$NOLAR_TEST_MARKER" ] && break
        sleep 0.05
    done
    [ "$(cat "$NOLAR_TEST_MARKER" 2> /dev/null)" = "$1" ]
}

# PATH wrappers for cp, mv and rm that count their calls, all together and each tool's own. Call
# number $KILL_AT kills the installer (their parent) $KILL_WHEN: before the operation, midway
# (a copy without its executables, a removal that got part of the way) or after it. $FAIL_AT,
# as TOOL:N, makes that tool's Nth call fail instead, a copy midway.
wrap_tools() {
    local dir="$ROOT/bin" tool
    mkdir -p "$dir"
    for tool in cp mv rm; do
        cat > "$dir/$tool" <<WRAP
#!/bin/bash
n=\$((\$(cat "$dir/count" 2> /dev/null) + 1))
t=\$((\$(cat "$dir/$tool.count" 2> /dev/null) + 1))
echo "\$n" > "$dir/count"
echo "\$t" > "$dir/$tool.count"
real="$(command -v "$tool")"
target="\${@: -1}"
midway() {
    case $tool in
        cp) "\$real" "\$@"; "$(command -v rm)" -rf "\$target/Contents/Linux" ;;
        rm) "\$real" -rf "\$target/Contents/Resources" ;;
    esac
}
[ "$tool:\$t" = "\$FAIL_AT" ] && { midway "\$@"; exit 1; }
if [ "\$n" = "\$KILL_AT" ]; then
    case "\$KILL_WHEN" in
        before) kill -KILL "\$PPID"; exit 1 ;;
        midway) midway "\$@"; kill -KILL "\$PPID"; exit 1 ;;
    esac
fi
"\$real" "\$@"
status="\$?"
[ "\$n" = "\$KILL_AT" ] && kill -KILL "\$PPID"
exit "\$status"
WRAP
        chmod 755 "$dir/$tool"
    done
}

# A staged bundle that could not start is refused before the installed one is touched.
for damage in "rm -f" "chmod -x"; do
    new_scene
    $damage "$NEW/Contents/Linux/nolar"
    run_installer
    check "$damage: old bundle intact" is_old
    check "$damage: log says FAILED" logged "update FAILED, restored"
    check "$damage: old build relaunched" relaunched 27
    check "$damage: work folder gone" absent "$WORK"
    rm -rf "$ROOT"
done

for fail in "cp:1 the copy fails half-way" "mv:1 moving the bundle aside fails" "mv:2 moving it in fails"; do
    new_scene
    wrap_tools
    FAIL_AT="${fail%% *}" PATH="$ROOT/bin:$PATH" run_installer
    check "$fail: old bundle back in place" is_old
    check "$fail: no backup left" absent "$OLD.update-bak"
    check "$fail: no partial copy left" absent "$OLD.update-new"
    check "$fail: log says FAILED" logged "update FAILED, restored"
    check "$fail: old build relaunched" relaunched 27
    rm -rf "$ROOT"
done

# The executable Info.plist names, or "nolar" without the key.
for exe in nolar-bin ""; do
    new_scene
    rm -rf "$NEW"
    make_bundle "$NEW" 28 "$exe"
    run_installer
    check "executable '$exe': relaunched" relaunched 28
    rm -rf "$ROOT"
done

new_scene
mkdir -p "$OLD.update-bak/stale" "$OLD.update-new/stale"
run_installer
check "leftovers of an earlier run: new bundle in place, not nested" is_new
check "leftovers of an earlier run: stale backup gone" absent "$OLD.update-bak"
rm -rf "$ROOT"

for value in "" "relative/state"; do
    new_scene
    export XDG_STATE_HOME="$value"
    run_installer
    LOG="$HOME/.local/state/Nolar/nolar.log"
    check "state home '$value': logged under HOME" logged "updated OK"
    check "state home '$value': nothing relative made" absent "/relative"
    rm -rf "$ROOT"
done

new_scene
sleep 30 &
bash "$SCRIPT" "$!" "$OLD" "$NEW" "$WORK"
check "application still running: swapped anyway" is_new
check "application still running: never signalled" kill "$!"
wait "$!" 2> /dev/null
rm -rf "$ROOT"

# Killed anywhere, the bundle path holds a complete old or new bundle, or, with the bundle path
# empty, the backup holds the complete old one; a later run finishes the update.
new_scene
wrap_tools
KILL_AT=0 PATH="$ROOT/bin:$PATH" run_installer
steps="$(cat "$ROOT/bin/count")"
check "a whole run under the wrappers updates" is_new
check "the run has file operations to interrupt" test "$steps" -ge 6
rm -rf "$ROOT"
for ((step = 1; step <= steps; step++)); do
    for when in before midway after; do
        new_scene
        wrap_tools
        # In a subshell, so that the shell's notice of the killed job stays quiet.
        (KILL_AT="$step" KILL_WHEN="$when" PATH="$ROOT/bin:$PATH" run_installer; true) > /dev/null 2>&1
        check "killed $when operation $step: a complete bundle or backup remains" \
            eval 'is_old || is_new || { absent "$OLD" && same_tree "$OLD.update-bak" "$ROOT/ref/old"; }'
        run_installer 2> /dev/null
        check "killed $when operation $step: a later run leaves a complete bundle" eval 'is_old || is_new'
        check "killed $when operation $step: a later run leaves no backup" absent "$OLD.update-bak"
        check "killed $when operation $step: a later run leaves no staging copy" absent "$OLD.update-new"
        rm -rf "$ROOT"
    done
done

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
