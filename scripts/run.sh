#!/usr/bin/env bash
# Builds the check mode and runs it, unmodified, on the simulated board.
#
# With a display ($DISPLAY): the check-mode window opens there, and beside it
# the simulator's panel (lamps, beep, encoder dial, IOC and FPGA switches).
# Without one (a server, CI): a guided tour under Xvfb presses the keys through
# the four checks, saves a screenshot of every page and state in out/tour/ and
# prints a report of what the board saw.
#
# scripts/run.sh --board runs it as the board does: as checkmode.service
# starts it, with Qt drawing on a framebuffer served over VNC and the keys
# coming only from the simulated keypad. With a display, the simulator's panel
# opens and a VNC viewer shows the screen (if one is installed); without one,
# a walk through the checks saves framebuffer screenshots in out/board/.
#
# scripts/run.sh --vm runs our package on the virtual board (scripts/vm.sh:
# Debian's kernel and systemd under QEMU). With a display, the guest's screen
# opens there and the simulator's panel drives the board through the guest
# agent's control socket; without one, the same walk as --board's runs on it
# and saves QEMU's screenshots in out/vm/. The machine is powered off when the
# window closes, the walk ends, or on Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh

# The steps that last run in the background, and are waited for: bash acts on
# Ctrl-C only once a foreground child has ended, and the guest's shell runs
# under timeout(1), in a process group of its own that the terminal's SIGINT
# does not reach, so a step in the foreground would go on for minutes.
step() {
    "$@" &
    step_pid=$!
    wait "$step_pid"
}

run_vm() {
    # The package's release build holds boardsim-ctl and the panel too.
    bash scripts/vm.sh image >/dev/null
    local tools=$root/build/package/tools/boardsim run=$root/build/vm/run
    export BOARDSIM_CONTROL=$run/control.sock BOARDSIM_CTL=$tools/boardsim-ctl
    panel='' step_pid=''
    trap 'kill $panel $step_pid 2>/dev/null; bash scripts/vm.sh stop' EXIT
    trap 'exit 130' INT TERM HUP
    if [ -z "${DISPLAY:-}" ]; then
        local out=${CHECKMODE_VM_DIR:-$root/out/vm} started=$SECONDS
        bash scripts/vm.sh start
        step bash scripts/vm.sh wait 600
        step bash scripts/board-tour.sh --vm "$out"
        echo "  tour from power-on: $((SECONDS - started)) s"
        return
    fi
    bash scripts/vm.sh show
    # The panel asks the agent for the board's state at once, and quits when
    # nothing answers: it comes once the guest's agent does.
    echo "vm: booting; the panel opens once the guest answers (a minute or two)"
    step bash scripts/vm.sh wait 600
    "$tools/panel/boardsim-panel" &
    panel=$!
    # Until the guest's window (QEMU's own, or the VNC viewer) is closed.
    local window=$run/qemu.pid
    [ ! -f "$run/viewer.pid" ] || window=$run/viewer.pid
    window=$(cat "$window")
    while kill -0 "$window" 2>/dev/null; do sleep 1; done
}
if [ "${1:-}" = --vm ]; then
    run_vm
    exit
fi
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

build=$root/build/default
checkmode=$build/app/checkmode
boardsim=$build/tools/boardsim/boardsim
export BOARDSIM_CTL=$build/tools/boardsim/boardsim-ctl
export BOARDSIM_PANEL=$build/tools/boardsim/panel/boardsim-panel

if [ "${1:-}" = --board ]; then
    unit=$build/packaging/checkmode.service
    environment_file=$root/packaging/checkmode.default
    if [ -z "${DISPLAY:-}" ]; then
        out=${CHECKMODE_BOARD_DIR:-$root/out/board}
        exec "$boardsim" -- bash scripts/board-tour.sh "$checkmode" "$unit" "$environment_file" "$out"
    fi
    display=$(bash scripts/free-vnc-display.sh)
    echo "The check mode's screen: VNC display localhost:$display (port $((5900 + display)))"
    viewer=$(command -v vncviewer xtightvncviewer | head -n 1 || true)
    if [ -n "$viewer" ]; then
        (sleep 2 && exec "$viewer" "localhost:$display") &
    fi
    exec "$boardsim" -- bash scripts/on-board.sh \
        bash scripts/as-unit.sh "$unit" "$environment_file" "$checkmode" $((5900 + display))
fi

if [ -n "${DISPLAY:-}" ]; then
    # A root shell without a desktop session has none; Qt would complain.
    if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
        export XDG_RUNTIME_DIR
        XDG_RUNTIME_DIR=$(mktemp -d)
    fi
    exec "$boardsim" -- bash scripts/on-board.sh "$checkmode"
fi

out=${CHECKMODE_TOUR_DIR:-$root/out/tour}
# The IOC appears a second after it is switched onto USB, well inside the
# check's five-second wait.
bash scripts/with-xvfb.sh "$boardsim" --set ioc-delay-ms=1000 -- \
    bash scripts/tour.sh "$checkmode" "$out"
echo "Home page: $out/01-home.png"
