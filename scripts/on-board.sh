#!/usr/bin/env bash
# Runs INSIDE boardsim: boardsim -- bash scripts/on-board.sh COMMAND [ARG...]
# With a display it opens the simulator's front panel (boardsim-panel) beside
# the check mode, then runs COMMAND and exits with its status; the panel goes
# when COMMAND ends.
#
# The panel is found as: $BOARDSIM_PANEL (set it empty for no panel), else
# boardsim-panel on PATH, else panel/boardsim-panel beside the boardsim-ctl
# that boardsim put on PATH (in the build tree, next to boardsim itself).
set -u

if [ $# -eq 0 ]; then
    echo "usage: boardsim -- bash scripts/on-board.sh COMMAND [ARG...]" >&2
    exit 2
fi

find_panel() {
    if [ -n "${BOARDSIM_PANEL+set}" ]; then
        printf '%s\n' "$BOARDSIM_PANEL"
        return
    fi
    local found
    if found=$(command -v boardsim-panel); then
        printf '%s\n' "$found"
        return
    fi
    if found=$(command -v boardsim-ctl); then
        # boardsim links boardsim-ctl into its tool directory; the build tree
        # it points to holds the panel one folder down.
        found=$(readlink -f "$found")
        printf '%s\n' "$(dirname "$found")/panel/boardsim-panel"
    fi
}

panel_pid=
if [ -n "${DISPLAY:-}" ]; then
    panel=$(find_panel)
    if [ -n "$panel" ] && [ -x "$panel" ]; then
        # Started first: it never takes the keyboard focus, so the check
        # mode, mapped after it, gets the keys.
        "$panel" &
        panel_pid=$!
    elif [ -n "$panel" ]; then
        echo "on-board: no front panel at $panel; running without it" >&2
    fi
fi

# The check mode runs as a child that this shell waits for, so that a signal
# boardsim forwards to the shell (it knows only its own child) reaches the
# check mode at once instead of after it has ended.
"$@" &
app_pid=$!
trap 'kill -TERM "$app_pid" 2>/dev/null' TERM INT HUP
while kill -0 "$app_pid" 2>/dev/null; do
    wait "$app_pid"
done
wait "$app_pid"
status=$?
trap - TERM INT HUP

if [ -n "$panel_pid" ]; then
    kill -TERM "$panel_pid" 2>/dev/null
    wait "$panel_pid" 2>/dev/null
fi
exit "$status"
