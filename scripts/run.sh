#!/usr/bin/env bash
# Builds the check mode and runs it, unmodified, on the simulated board.
#
# With a display ($DISPLAY): the check-mode window opens there, and beside it
# the simulator's panel (lamps, beep, encoder dial, IOC and FPGA switches).
# Without one (a server, CI): a guided tour under Xvfb presses the keys through
# the four checks, saves a screenshot of every page and state in out/tour/ and
# prints a report of what the board saw.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

build=$root/build/default
checkmode=$build/app/checkmode
boardsim=$build/tools/boardsim/boardsim
export BOARDSIM_CTL=$build/tools/boardsim/boardsim-ctl
export BOARDSIM_PANEL=$build/tools/boardsim/panel/boardsim-panel

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
