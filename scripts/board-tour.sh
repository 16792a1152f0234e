#!/usr/bin/env bash
# The check mode as the board runs it, walked through with the panel's keys
# alone, on either board:
#
#   boardsim -- bash scripts/board-tour.sh CHECKMODE UNIT ENVIRONMENT_FILE OUTDIR
#   bash scripts/board-tour.sh --vm OUTDIR
#
# On the simulated board (run INSIDE it) it starts CHECKMODE as
# checkmode.service would (scripts/as-unit.sh: the unit's command line and
# environment file, Qt's vnc platform in place of linuxfb) and photographs the
# framebuffer with vncsnapshot; on the virtual board (scripts/vm.sh, booted,
# with BOARDSIM_CONTROL naming its control socket) systemd has started the
# installed package and QEMU's screendump photographs the screen. How each
# board is reached is in scripts/tour-on-boardsim.sh and tour-on-vm.sh; the
# walk is the same. Keys go only to the keypad, /dev/input/event1, as Linux
# key codes that Qt's evdev keyboard handler turns into Qt keys: F8 opens the
# keyboard test, all 31 panel keys are pressed once, clear + 1 returns home,
# F9 then F1 lights the danger lamp, F10 then F1 reads the FPGA's
# identification. Screenshots go into OUTDIR, with the program's debug log
# (checkmode.log), the board's transcript (transcript.jsonl) and a report of
# what was seen (report.txt). Exits non-zero when a step did not happen.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = --vm ]; then
    board=vm out=$2
else
    board=boardsim checkmode=$1 unit=$2 environment_file=$3 out=$4
fi
ctl=${BOARDSIM_CTL:-boardsim-ctl}
mkdir -p "$out"
log=$out/checkmode.log
# shellcheck source=SCRIPTDIR/tour-on-boardsim.sh
. "$here/tour-on-$board.sh"
rm -f "$out"/*."$shot_type" "$out/report.txt"

# The board's facts, NAME=VALUE a line: every key the keyboard test counts, by
# its name on the panel, among them.
"$ctl" facts >"$out/facts.txt"
declare -A fact
while IFS='=' read -r name value; do fact[$name]=$value; done <"$out/facts.txt"
read -ra panel_keys <<<"${fact[panel_keys]}"
lamp_line=${fact[danger_lamp_line]}

board_start
trap board_end EXIT

fail() {
    echo "board-tour: $*" >&2
    "$ctl" transcript >"$out/transcript.jsonl" || true
    exit 1
}
# "r,g,b" of one pixel of a screenshot
pixel() {
    convert "$out/$1.$shot_type" -format \
        "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}
# The soft-key bar's Home button is light grey on the black window.
bar_shown() { [ "$(pixel "$1" 40 420 | cut -d, -f1)" -gt 200 ]; }
# until SECONDS COMMAND...: polls COMMAND every 100 ms (by the clock: a
# screenshot of the virtual board takes most of a second itself)
until_true() {
    local until=$((SECONDS + $1))
    shift
    while ! "$@"; do
        board_running || fail "the check mode ended early (see $log)"
        [ $SECONDS -lt "$until" ] || return 1
        sleep 0.1
    done
}
shot_shows_bar() { shot "$1" && bar_shown "$1"; }
light() { [ "$(pixel "$1" "$2" "$3" | cut -d, -f1)" -gt 200 ]; }
# Told apart by two points: the middle left, white on the home page (its
# text box) and the IOC/FPGA page (its result panel), black on the lamp page;
# and the top right, where the lamp page and the IOC/FPGA page have their
# first button and the home page is black.
shot_shows_lamp_page() { shot "$1" && bar_shown "$1" && ! light "$1" 300 250; }
shot_shows_ioc_page() { shot "$1" && bar_shown "$1" && light "$1" 300 250 && light "$1" 720 120; }
shot_hides_bar() { shot "$1" && ! bar_shown "$1"; }
tap() { "$ctl" key tap "$1" >/dev/null; }
counted() {
    board_log
    grep -c '^progBar 1$' "$log" || true
}
counted_at_least() { [ "$(counted)" -ge "$1" ]; }

until_true "$first_frame_s" shot_shows_bar 01-home ||
    fail "no home page on the screen after $first_frame_s s"

tap F8
until_true 30 shot_hides_bar 02-keyboard-test || fail "F8 did not open the keyboard test"
# A keypad's evdev buffer holds 64 events, 16 taps: each key is let in once the
# one before it counted, as fingers would, so that a slow build loses none.
typed=0
for key in "${panel_keys[@]}"; do
    tap "$key"
    typed=$((typed + 1))
    until_true 30 counted_at_least $typed || break
done
shot 03-keyboard-all
keys_counted=$(counted)

tap clear
tap 1
until_true 30 shot_shows_bar 04-home-again || fail "clear + 1 did not return home"

tap F9
until_true 30 shot_shows_lamp_page 05-lamp-buzzer || fail "F9 did not open the lamp and buzzer page"
tap F1
lamp_on() { [ "$("$ctl" gpio "$lamp_line")" = "out 1" ]; }
until_true 30 lamp_on || fail "F1 on the lamp page did not drive line $lamp_line high"

tap F10
until_true 30 shot_shows_ioc_page 06-ioc-fpga || fail "F10 did not open the IOC and FPGA page"
tap F1
fpga_read() { board_log && grep -qxF "fpga Identification: \"${fact[flash_identification]}\"" "$log"; }
until_true 60 fpga_read || fail "F10 then F1 did not read the FPGA's identification"
sleep 0.3
shot 07-fpga-verdict

"$ctl" transcript >"$out/transcript.jsonl"
board_log
{
    echo "The check mode as the board runs it, on $board_name, keys from its keypad"
    echo "  keys counted: $keys_counted of ${#panel_keys[@]}"
    echo "  danger lamp (line $lamp_line): $("$ctl" gpio "$lamp_line")"
    echo "  FPGA answer: $(grep -m 1 '^fpga Identification' "$log")"
    echo "  screenshots: $out"
} | tee "$out/report.txt"
[ "$keys_counted" -eq ${#panel_keys[@]} ] || fail "$keys_counted keys counted, not ${#panel_keys[@]}"
