#!/bin/sh
# boardsim's command line from a shell: the acceptance lines, exit statuses,
# and that nothing is left behind on the host after any way of ending.
# usage: boardsim_cli.sh BOARDSIM
set -u
BOARDSIM=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# This machine must host boardsim at all, else the whole test is skipped.
if ! "$BOARDSIM" -- true 2>"$WORK/err"; then
    status=$?
    cat "$WORK/err" >&2
    [ "$status" -eq 77 ] && exit 77
    echo "FAIL: boardsim -- true exited with $status" >&2
    exit 1
fi

host_state() {
    # boardsim's mounts must never reach the host's mount table; the paths it
    # simulates must look as before.
    grep -c boardsim /proc/mounts
    for p in /sys/class/gpio /dev/input /dev/input/event0 /run/media /run/boardsim; do
        [ -e "$p" ] && echo "$p exists"
    done
}
host_state >"$WORK/host.before"

# Table, fields split at '@': name, boardsim options, command (sh -c; none:
# boardsim gets no command), expected status, stdout (lines joined by spaces;
# empty: not checked), a part of stderr (empty: not checked).
cat >"$WORK/cases" <<'CASES'
export then read direction@@echo 18 > /sys/class/gpio/export; cat /sys/class/gpio/gpio18/direction@0@in@
second export is busy@@echo 18 > /sys/class/gpio/export; /bin/echo 18 > /sys/class/gpio/export@1@@Device or resource busy
pre-exported line@@cat /sys/class/gpio/gpio129/direction /sys/class/gpio/gpio129/value@0@out 0@
blocked read gets a turn@@(sleep 0.3; boardsim-ctl turn 1) & dd if=/dev/input/event0 bs=24 count=1 2>/dev/null | wc -c@0@24@
control reads gpio state@@echo 54 > /sys/class/gpio/export; echo high > /sys/class/gpio/gpio54/direction; boardsim-ctl gpio 54@0@out 1@
control reports the position@--position 12@boardsim-ctl turn -2; boardsim-ctl position@0@10@
control rejects junk@@boardsim-ctl turn left@1@@bad request
transcript shows exact bytes@@printf 18 > /sys/class/gpio/export; boardsim-ctl transcript | grep -c '"op": "write", "path": "/sys/class/gpio/export", "bytes": "18", "result": 2'@0@1@
exit status passes through@@exit 3@3@@
killed by SIGKILL@@kill -KILL $$@137@@
killed by SIGTERM@@kill -TERM $$@143@@
no command at all@--no-gpio@@2@@no command given
unknown option@--frobnicate@true@2@@unknown option
bad scenario@--set ioc=nowhere@true@2@@invalid value
CASES

while IFS='@' read -r name options command want_status want_out want_err; do
    if [ -z "$command" ]; then
        # shellcheck disable=SC2086
        "$BOARDSIM" $options >"$WORK/out" 2>"$WORK/err"
    else
        # shellcheck disable=SC2086
        timeout -k 5 30 "$BOARDSIM" $options -- sh -c "$command" >"$WORK/out" 2>"$WORK/err"
    fi
    status=$?
    out=$(tr '\n' ' ' <"$WORK/out" | sed 's/ *$//; s/^ *//')
    [ "$status" -eq "$want_status" ] || fail "$name: status $status, want $want_status ($(cat "$WORK/err"))"
    [ -z "$want_out" ] || [ "$out" = "$want_out" ] || fail "$name: printed '$out', want '$want_out'"
    [ -z "$want_err" ] || grep -q -- "$want_err" "$WORK/err" || fail "$name: stderr lacks '$want_err': $(cat "$WORK/err")"
    host_state >"$WORK/host.after"
    cmp -s "$WORK/host.before" "$WORK/host.after" || fail "$name: host changed: $(diff "$WORK/host.before" "$WORK/host.after")"
done <"$WORK/cases"

# A command that cannot be run: boardsim says so, with the shell's statuses.
"$BOARDSIM" -- /no/such/command 2>"$WORK/err"
status=$?
[ $status -eq 127 ] || fail "missing command: status $status, want 127"
grep -q 'cannot run the command' "$WORK/err" || fail "missing command: $(cat "$WORK/err")"

# A hung tool the command left behind dies with the board.
"$BOARDSIM" --set tool.iocboot=hang -- sh -c "iocboot -i & echo \$! > $WORK/tool.pid; sleep 0.3"
sleep 0.2
kill -0 "$(cat "$WORK/tool.pid")" 2>/dev/null && fail "hung tool $(cat "$WORK/tool.pid") outlived boardsim"

# A reader blocked in read() when the command ends does not keep anything alive.
"$BOARDSIM" -- sh -c "cat /dev/input/event0 >/dev/null 2>&1 & echo \$! > $WORK/reader.pid; sleep 0.3"
sleep 0.2
kill -0 "$(cat "$WORK/reader.pid")" 2>/dev/null && fail "blocked reader outlived boardsim"

# boardsim killed with SIGKILL: the command dies with it, the host is unchanged.
"$BOARDSIM" -- sh -c "echo \$\$ > $WORK/cmd.pid; exec sleep 30" &
sim=$!
i=0
while [ ! -s "$WORK/cmd.pid" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
kill -KILL "$sim"
wait "$sim" 2>/dev/null
i=0
while kill -0 "$(cat "$WORK/cmd.pid")" 2>/dev/null && [ $i -lt 40 ]; do sleep 0.05; i=$((i + 1)); done
kill -0 "$(cat "$WORK/cmd.pid")" 2>/dev/null && fail "command outlived a killed boardsim"
host_state >"$WORK/host.after"
cmp -s "$WORK/host.before" "$WORK/host.after" || fail "host changed after boardsim was killed"

# Without FUSE (an unprivileged user may not open /dev/fuse here) boardsim
# says why and exits 77, so that CTest reports a skip, never a pass.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && [ "$(stat -c %a /dev/fuse)" = 600 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups "$BOARDSIM" -- true 2>"$WORK/err"
    status=$?
    if [ $status -ne 126 ]; then # 126: the build directory is not reachable for nobody
        [ $status -eq 77 ] || fail "no FUSE: status $status, want 77"
        grep -q '^boardsim: cannot ' "$WORK/err" || fail "no FUSE: no reason given: $(cat "$WORK/err")"
    fi
fi

[ "$failures" -eq 0 ] || exit 1
echo "all boardsim command-line cases passed"
