#!/usr/bin/env bash
# The check mode as its systemd unit starts it on the board, driven only by
# the simulated keypad: runs scripts/board-tour.sh under boardsim and checks
# what it saw, the framebuffer's screenshots and what opened the input nodes.
#   tst_board.sh SOURCE_DIR BOARDSIM CHECKMODE UNIT ENVIRONMENT_FILE OUTDIR
# Runs against a build tree or against the installed packages alike.
set -uo pipefail
src=$1 boardsim=$2 checkmode=$3 unit=$4 environment_file=$5 out=$6

for tool in vncsnapshot convert cmp; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

rm -rf "$out"
"$boardsim" -- bash "$src/scripts/board-tour.sh" "$checkmode" "$unit" "$environment_file" "$out"
status=$?
[ $status -ne 77 ] || exit 77 # boardsim cannot run here; it said why

# shellcheck source=SCRIPTDIR/checks.sh
. "$(dirname "$0")/checks.sh"
log_count() { grep -cxF -- "$1" "$out/checkmode.log"; }
# opens PATH: how many times anything opened PATH on the board
opens() { grep -c "\"op\": \"open\", \"path\": \"$1\"" "$out/transcript.jsonl"; }
bar_as_on_x() {
    local d
    [ -f "$out/$1.jpg" ] || { echo "  no $1.jpg"; return 2; }
    d=$(bar_difference "$out/$1.jpg" "$src/docs/01-home.png")
    [ "$d" -le 30 ] || { echo "  $1: $d pixels of the bar differ"; false; }
}

check "the tour ran to its end" [ $status -eq 0 ]
# The described identification and lamp line, copied on purpose: the check of the board's facts.
check "31 keys counted once each" [ "$(log_count "progBar 1")" -eq 31 ]
check "no key counted twice" [ "$(log_count "progBar 0")" -eq 0 ]
check "FPGA identification read" [ "$(log_count 'fpga Identification: "Identification: 0xc22015"')" -eq 1 ]
check "danger lamp on" grep -qxF "  danger lamp (line 132): out 1" "$out/report.txt"
check "home page's soft-key bar where X has it" bar_as_on_x 01-home
check "bar back after clear + 1" bar_as_on_x 04-home-again
no_bar() { bar_as_on_x "$1" >/dev/null; [ $? -eq 1 ]; }
check "no bar on the keyboard test" no_bar 02-keyboard-test
# Qt opens the keypad once and nothing but the program's reader opens the
# encoder: the platform's input discovery is off.
check "keypad opened once" [ "$(opens /dev/input/event1)" -eq 1 ]
check "encoder opened once" [ "$(opens /dev/input/event0)" -eq 1 ]

# The verdict in its red, rgb(225, 26, 26): screenshots keep the screen's colours.
red_pixels() { convert "$out/07-fpga-verdict.jpg" -crop 170x14+40+173 +repage \
    -fx 'r > 0.7 && g < 0.35 && b < 0.35' -format '%[fx:int(mean * w * h)]' info:; }
check "FPGA verdict in red" [ "$(red_pixels)" -gt 20 ]

checks_done "board: "
