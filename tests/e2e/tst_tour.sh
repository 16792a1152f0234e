#!/usr/bin/env bash
# Runs the guided tour of the real check mode on the simulated board and
# checks its report and a few pixels of its screenshots.
#   tst_tour.sh SOURCE_DIR BOARDSIM CHECKMODE OUTDIR
set -uo pipefail
src=$1 boardsim=$2 checkmode=$3 out=$4

for tool in Xvfb xdotool import convert tesseract python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

rm -rf "$out"
export BOARDSIM_CTL
BOARDSIM_CTL=$(dirname "$boardsim")/boardsim-ctl
bash "$src/scripts/with-xvfb.sh" "$boardsim" --set ioc-delay-ms=1000 -- \
    bash "$src/scripts/tour.sh" "$checkmode" "$out"
status=$?
if [ $status -eq 77 ]; then
    exit 77 # boardsim cannot run here; it said why
fi

# shellcheck source=SCRIPTDIR/checks.sh
. "$(dirname "$0")/checks.sh"
reports() { grep -qxF -- "$1" "$out/report.txt"; }
# pixel FILE X Y -> "r,g,b"
pixel() {
    convert "$out/$1.png" -format \
        "%[fx:int(255*p{$2,$3}.r+0.5)],%[fx:int(255*p{$2,$3}.g+0.5)],%[fx:int(255*p{$2,$3}.b+0.5)]" info:
}
pixel_is() { [ "$(pixel "$1" "$2" "$3")" = "$4" ] || { echo "  $1 at $2,$3: $(pixel "$1" "$2" "$3"), want $4"; false; }; }
pixel_is_not() { [ "$(pixel "$1" "$2" "$3")" != "$4" ]; }

check "the tour ran to its end" [ $status -eq 0 ]

# What the board saw, against the described lines (copied on purpose, not the board's facts).
check "lamp on, then off" reports "  danger lamp (line 132): on, off"
check "test line follows the lamp" reports "  danger test line (line 29): on, off"
check "two beeps" reports "  beep writes (line 128): 2"
check "alarm sound off at start" grep -q "alarm sound off$" "$out/report.txt"
check "tools in order" reports "  board tools called: flash -o rdid; usbswitch -i; iocboot -i; iocboot -f; usbswitch -f"
check "FPGA verdict" grep -q "^  FPGA verdict: FPGA Check Success! " "$out/report.txt"
check "IOC verdict" grep -q "^  IOC verdict: IOC Check Suceccs! " "$out/report.txt"
check "14 screenshots" reports "  screenshots (14): $out"

# Each LCD colour fills the screen (away from the button and the help text).
check "LCD white" pixel_is 02-lcd-white 200 300 "255,255,255"
check "LCD red" pixel_is 03-lcd-red 200 300 "255,0,0"
check "LCD green" pixel_is 04-lcd-green 200 300 "0,128,0"
check "LCD blue" pixel_is 05-lcd-blue 200 300 "0,0,255"
check "LCD black" pixel_is 06-lcd-black 200 300 "0,0,0"
check "LCD button collapsed" pixel_is 07-lcd-button-hidden 735 120 "255,255,255"

# The soft-key bar (its Home button at 78,440) is absent on the LCD and
# keyboard-test pages, and present on the home page.
check "bar on the home page" pixel_is_not 01-home 78 440 "0,0,0"
check "no bar on the LCD page" pixel_is 03-lcd-red 78 440 "255,0,0"
check "no bar on the keyboard test" pixel_is 08-keyboard-partway 78 440 "0,0,0"

# The debug log holds the keyboard test's 31 counted keys and no Qt warning.
check "31 keys counted" [ "$(grep -c '^progBar 1$' "$out/checkmode.log")" -eq 31 ]
check "no Qt warning" bash -c "! grep -E '^(QWidget|QObject|QProcess|QThread|QFont|QPainter|QLayout|Qt)' '$out/checkmode.log'"

checks_done ""
