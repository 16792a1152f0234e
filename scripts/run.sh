#!/usr/bin/env bash
# Builds the check mode and runs it, unmodified, on the simulated board.
# With a display ($DISPLAY) the window opens there. Without one (a server, CI)
# it runs under Xvfb for a few seconds and saves a screenshot of the home page.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target checkmode

build=$root/build/default
checkmode=$build/app/checkmode
boardsim=$build/tools/boardsim/boardsim
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

on_board() {
    if [ -x "$boardsim" ]; then
        exec "$boardsim" -- "$@"
    fi
    echo "run: no simulated board built; running without one" >&2
    exec "$@"
}

if [ -n "${DISPLAY:-}" ]; then
    on_board "$checkmode"
fi

shots=$root/out/screenshots
mkdir -p "$shots"
# -displayfd picks a free display number and tells it once the server listens.
exec 3< <(Xvfb -displayfd 1 -screen 0 800x480x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 10 display_number <&3
export DISPLAY=:$display_number
stop_all() {
    # The window first, so that it does not see its display vanish.
    if [ -n "${app_pid:-}" ]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    kill "$xvfb_pid" 2>/dev/null || true
}
trap stop_all EXIT

(on_board "$checkmode") &
app_pid=$!
xdotool search --sync --onlyvisible --name '^groundwork$' >/dev/null &
search_pid=$!
for _ in $(seq 100); do
    kill -0 "$search_pid" 2>/dev/null || break
    sleep 0.1
done
kill "$search_pid" 2>/dev/null || true
sleep 1 # let the first frame be painted
import -window root "$shots/home.png"
echo "The check mode ran under Xvfb; home page: $shots/home.png"
