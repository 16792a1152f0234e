#!/usr/bin/env bash
# SIGTERM (systemctl stop) and SIGINT end the real check mode at once and
# cleanly, whatever it is doing: exit status 0 (not Qt's 1, not death by the
# signal), no thread left running, a hanging board tool killed and the IOC
# still switched back. Runs INSIDE the simulated board, offscreen, with the
# keys on the simulated keypad:
#   boardsim -- bash tst_stop.sh CHECKMODE BOARDSIM_CTL
# The time a stop takes is held against the same run's start of the program
# (launch until the encoder is open, which the window does as it is built).
set -uo pipefail
checkmode=$1 ctl=$2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../e2e/checks.sh
. "$here/../e2e/checks.sh"
export QT_QPA_PLATFORM=offscreen QT_QPA_GENERIC_PLUGINS=evdevkeyboard
export QT_QPA_EVDEV_KEYBOARD_PARAMETERS=/dev/input/event1
log=$(mktemp)
trap 'rm -f "$log"' EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# until_seen PATTERN: waits (at most 60 s) for a transcript entry matching PATTERN
until_seen() {
    local i
    for ((i = 0; i < 1200; i++)); do
        "$ctl" transcript | grep "$1" >/dev/null && return 0
        sleep 0.05
    done
    echo "  never saw $1"
    return 1
}
exec_of() { echo "\"op\": \"exec\", \"path\": \"$1\", \"args\": \[\"$2\""; }
no_thread_left() { ! grep -q "QThread: Destroyed" "$log"; }
# tools: the board tools running on this board (links to boardsim-tool, named
# as the tool they play; the board's own mount namespace tells them apart)
tools() {
    local pid
    for pid in $(pgrep -x 'usbswitch|iocboot|flash'); do
        [ "$(readlink "/proc/$pid/ns/mnt")" != "$(readlink /proc/$$/ns/mnt)" ] || echo "$pid"
    done
}
no_tool_left() { [ -z "$(tools)" ]; }
# files PID: what the descriptors of PID above the standard streams refer to
files() { find "/proc/$1/fd" -mindepth 1 ! -name 0 ! -name 1 ! -name 2 -exec readlink {} + | sort -u; }
# A tool that lingers must hold nothing the program opened, least of all the
# encoder's device: only the standard streams are passed on. Its connection
# to the board is its own; what this script passed to both is not counted.
holds_none() { comm -12 <(files "$1") <(files "$2") | comm -23 - <(files $$) | grep . && return 1; true; }

# row NAME SIGNAL SCENARIO KEYS... -- PATTERN: starts the check mode on a fresh
# board, presses KEYS, waits for PATTERN in the transcript, sends SIGNAL.
row() {
    local name=$1 signal=$2 scenario=$3
    shift 3
    local keys=()
    while [ "$1" != -- ]; do keys+=("$1") && shift; done
    local pattern=$2
    "$ctl" set "tool.usbswitch=ok" >/dev/null
    "$ctl" set "tool.flash=ok" >/dev/null
    [ -z "$scenario" ] || "$ctl" set "$scenario" >/dev/null
    "$ctl" clear-transcript >/dev/null
    local t0 started stopped status
    t0=$(now_ms)
    "$checkmode" >"$log" 2>&1 &
    local app=$!
    until_seen '"op": "open", "path": "/dev/input/event0"' || { kill -KILL $app; return; }
    started=$(($(now_ms) - t0))
    # Keys reach the window once it is shown and active, which nothing
    # outside it marks: they are pressed again until a board tool runs.
    local tries=0
    until [ ${#keys[@]} -eq 0 ] || "$ctl" transcript | grep '"op": "exec"' >/dev/null; do
        [ $((tries += 1)) -le 30 ] || { echo "  no board tool ran" && kill -KILL $app && return; }
        for key in "${keys[@]}"; do "$ctl" key tap "$key" >/dev/null; done
        sleep 1
    done
    until_seen "$pattern" || { kill -KILL $app; return; }
    for tool in $(tools); do
        check "$name: the board tool holds none of the program's files" holds_none "$tool" $app
    done
    t0=$(now_ms)
    kill -s "$signal" $app
    wait $app
    status=$?
    stopped=$(($(now_ms) - t0))
    echo "$name: started in $started ms, $signal ended it in $stopped ms (status $status)"
    check "$name: exit status 0" [ $status -eq 0 ]
    # A hanging tool, and a switch back that hangs too, are each given their
    # bound after the stop (BoardToolStoppingMs).
    local allowance=0
    [ -z "$scenario" ] || allowance=$((2 * 500))
    check "$name: ended within 3 times its start" [ $stopped -le $((3 * started + allowance)) ]
    check "$name: no thread left running" no_thread_left
    check "$name: no board tool left running" no_tool_left
}

row "idle" TERM "" -- '"op": "open", "path": "/dev/input/event0"'
row "idle" INT "" -- '"op": "open", "path": "/dev/input/event0"'
row "flash read hanging" TERM tool.flash=hang F10 F1 -- "$(exec_of flash -o)"
row "IOC wait" TERM "" F10 F2 -- "$(exec_of iocboot -i)"
# The IOC must not stay on USB: the switch back still runs on the way out.
check "IOC wait: the IOC switched back" until_seen "$(exec_of usbswitch -f)"
row "after the FPGA and IOC checks" TERM "" F10 F1 F2 -- "$(exec_of usbswitch -f)"
row "usbswitch hanging" TERM tool.usbswitch=hang F10 F2 -- "$(exec_of usbswitch -i)"
check "usbswitch hanging: the IOC switched back" until_seen "$(exec_of usbswitch -f)"
checks_done "stop: "
