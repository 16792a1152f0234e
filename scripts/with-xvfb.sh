#!/usr/bin/env bash
# Runs COMMAND with DISPLAY on a fresh, private Xvfb screen of the board's
# size (800 x 480) and takes the server down afterwards.
#   with-xvfb.sh COMMAND [ARG...]
set -euo pipefail
size=${XVFB_SCREEN:-800x480x24}

fifo=$(mktemp -u)
mkfifo "$fifo"
# -displayfd picks a free display number and writes it once the server listens.
Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp 3>"$fifo" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; wait $xvfb 2>/dev/null || true; rm -f "$fifo"' EXIT
if ! read -r -t 15 number <"$fifo"; then
    echo "with-xvfb: Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=:$number
# The screen is for X programs: a QT_QPA_PLATFORM=offscreen left in the
# caller's shell (as the unit tests use) would keep the window off it.
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

# Not exec: the trap must still take the server down.
status=0
"$@" || status=$?
exit $status
