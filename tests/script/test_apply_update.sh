#!/bin/bash
# The installer script with real bundles: the swap's failures and the relaunch. (A whole update
# through it is the e2e update test's; a whole run under wrappers starts test_apply_update_kill.sh.)
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/lib.sh"

# PATH wrappers that make one tool fail, to provoke each failure of the swap.
wrap_failing() {
    local tool="$1" failAt="$2" dir="$ROOT/bin"
    mkdir -p "$dir"
    echo 0 > "$dir/$tool.count"
    cat > "$dir/$tool" <<WRAP
#!/bin/bash
n=\$((\$(cat "$dir/$tool.count") + 1))
echo "\$n" > "$dir/$tool.count"
if [ "\$n" -eq "$failAt" ]; then
    if [ "$tool" = cp ]; then "$(command -v cp)" "\$@"; rm -rf "\${@: -1}/Contents/Linux"; fi
    exit 1
fi
exec "$(command -v "$tool")" "\$@"
WRAP
    chmod 755 "$dir/$tool"
}

test_missing_new_bundle() {
    new_scene
    rm -rf "$NEW"
    bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"
    check "missing new: old bundle intact" is_old
    check "missing new: log says FAILED" last_log_line_ends_with "update FAILED, restored"
    check "missing new: old build relaunched" test "$(relaunched | cut -d' ' -f1)" = 27
    check "missing new: work folder gone" absent "$WORK"
    drop_scene
}

# A staged bundle that could not start is refused before the installed one is touched.
test_new_bundle_without_its_executable() {
    local damage
    for damage in "chmod -x" "rm -f"; do
        new_scene
        $damage "$NEW/Contents/Linux/nolar"
        bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"
        check "$damage executable: old bundle intact" is_old
        check "$damage executable: log says FAILED" last_log_line_ends_with "update FAILED, restored"
        check "$damage executable: old build relaunched" test "$(relaunched | cut -d' ' -f1)" = 27
        drop_scene
    done
}

# fail_case TOOL N WHAT: the Nth call of TOOL fails (a failing cp leaves a partial copy).
fail_case() {
    local tool="$1" n="$2" what="$3"
    new_scene
    wrap_failing "$tool" "$n"
    PATH="$ROOT/bin:$PATH" bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"
    check "$what: old bundle back in place" is_old
    check "$what: no backup left" absent "$OLD.update-bak"
    check "$what: no partial copy left" absent "$OLD.update-new"
    check "$what: log says FAILED" last_log_line_ends_with "update FAILED, restored"
    check "$what: old build relaunched" test "$(relaunched | cut -d' ' -f1)" = 27
    drop_scene
}

test_waits_then_goes_on() {
    new_scene
    sleep 30 &
    local sleeper="$!"
    bash "$SCRIPT" "$sleeper" "$OLD" "$NEW" "$WORK"
    check "still running: swapped anyway" is_new
    check "still running: the process was never signalled" kill -0 "$sleeper"
    kill "$sleeper"
    wait "$sleeper" 2> /dev/null
    drop_scene
}

test_executable_name_from_info() {
    new_scene
    rm -rf "$NEW" "$ROOT/ref/new"
    make_bundle "$NEW" 28 "nolar-bin"
    cp -a "$NEW" "$ROOT/ref/new"
    bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"
    check "named executable: relaunched" test "$(relaunched | cut -d' ' -f1)" = 28
    drop_scene

    new_scene
    rm -rf "$NEW"
    make_bundle "$NEW" 28 ""
    bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"
    check "no executable key: nolar relaunched" test "$(relaunched | cut -d' ' -f1)" = 28
    drop_scene
}

test_leftovers_of_an_earlier_run() {
    new_scene
    mkdir -p "$OLD.update-bak/stale" "$OLD.update-new/stale"
    bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"
    check "leftovers: new bundle in place, not nested" is_new
    check "leftovers: stale backup gone" absent "$OLD.update-bak"
    drop_scene

    # Killed between its renames: only the backup holds the installed bundle.
    new_scene
    mv "$OLD" "$OLD.update-bak"
    bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"
    check "interrupted run: finished from the backup" is_new
    check "interrupted run: backup gone" absent "$OLD.update-bak"
    drop_scene
}

test_log_folder_when_state_home_is_unset_or_relative() {
    for value in "" "relative/state"; do
        new_scene
        export XDG_STATE_HOME="$value"
        bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"
        LOG="$HOME/.local/state/Nolar/nolar.log"
        check "state home '$value': logged under HOME" last_log_line_ends_with "updated OK"
        check "state home '$value': nothing relative made" absent "/relative"
        drop_scene
    done
}

test_missing_new_bundle
test_new_bundle_without_its_executable
fail_case cp 1 "copy fails half-way"
fail_case mv 1 "moving the bundle aside fails"
fail_case mv 2 "moving the new bundle in fails"
test_executable_name_from_info
test_leftovers_of_an_earlier_run
test_log_folder_when_state_home_is_unset_or_relative
test_waits_then_goes_on
finish
