#!/bin/bash
# The installer script killed (SIGKILL) before and after each of its file operations: the
# bundle path must always hold a complete old or new bundle, or, with the bundle path empty,
# the backup must hold the complete old one. A later run must then finish the update.
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/lib.sh"

# Wrappers for cp, mv and rm that count every call and kill the script (their parent) at
# call KILL_AT: before the operation, half-way through it or after it (KILL_WHEN).
make_killers() {
    local dir="$ROOT/bin" tool
    mkdir -p "$dir"
    echo 0 > "$dir/count"
    for tool in cp mv rm; do
        cat > "$dir/$tool" <<WRAP
#!/bin/bash
n=\$((\$(cat "$dir/count") + 1))
echo "\$n" > "$dir/count"
real="$(command -v "$tool")"
target="\${@: -1}"
if [ "\$n" -eq "\$KILL_AT" ]; then
    case "\$KILL_WHEN:$tool" in
        before:*) kill -KILL "\$PPID"; exit 1 ;;
        # Half done: a copy without its executables, a removal that got part of the way.
        midway:cp) "\$real" "\$@"; "$(command -v rm)" -rf "\$target/Contents/Linux"; kill -KILL "\$PPID"; exit 1 ;;
        midway:rm) "\$real" -rf "\$target/Contents/Resources"; kill -KILL "\$PPID"; exit 1 ;;
    esac
fi
"\$real" "\$@"
status="\$?"
if [ "\$n" -eq "\$KILL_AT" ]; then kill -KILL "\$PPID"; fi
exit "\$status"
WRAP
        chmod 755 "$dir/$tool"
    done
}

recoverable() {
    is_old || is_new || { absent "$OLD" && same_tree "$OLD.update-bak" "$ROOT/ref/old"; }
}

# How many file operations a whole run makes.
new_scene
make_killers
KILL_AT=0 KILL_WHEN=none PATH="$ROOT/bin:$PATH" bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"
STEPS="$(cat "$ROOT/bin/count")"
check "a whole run under the wrappers updates" is_new
drop_scene

for ((step = 1; step <= STEPS; step++)); do
    for when in before midway after; do
        new_scene
        make_killers
        # In a subshell, so that the shell's notice of the killed job stays quiet.
        (KILL_AT="$step" KILL_WHEN="$when" PATH="$ROOT/bin:$PATH" \
            bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK"; true) > /dev/null 2>&1
        check "killed $when operation $step: a complete bundle or backup remains" recoverable
        bash "$SCRIPT" "$(ended_pid)" "$OLD" "$NEW" "$WORK" 2> /dev/null
        check "killed $when operation $step: a later run leaves a complete bundle" eval 'is_old || is_new'
        check "killed $when operation $step: a later run leaves no backup" absent "$OLD.update-bak"
        check "killed $when operation $step: a later run leaves no staging copy" absent "$OLD.update-new"
        drop_scene
    done
done

check "the run had file operations to interrupt" test "$STEPS" -ge 6
finish
