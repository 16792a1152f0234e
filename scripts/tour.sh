#!/usr/bin/env bash
# A guided tour of the check mode, run INSIDE the simulated board with an X
# display: it presses the panel's keys with xdotool through the four checks in
# the home page's order, turns the encoder, saves a screenshot of every page
# and state, and writes a report of what the board saw.
#
#   boardsim -- bash scripts/tour.sh CHECKMODE OUTDIR
#
# The check mode's debug log goes to OUTDIR/checkmode.log, the board's facts
# to OUTDIR/facts.txt, its transcript to OUTDIR/transcript.jsonl and the report
# to OUTDIR/report.txt.
set -euo pipefail
checkmode=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
ctl=${BOARDSIM_CTL:-boardsim-ctl}
mkdir -p "$out"
rm -f "$out"/*.png

# The board's facts, NAME=VALUE a line: the panel's keys as a PC's keys among them.
"$ctl" facts >"$out/facts.txt"
declare -A fact
while IFS='=' read -r name value; do fact[$name]=$value; done <"$out/facts.txt"
read -ra pc_keys <<<"${fact[pc_keys]}"
clear=${fact[clear_pc_key]}

"$checkmode" >"$out/checkmode.log" 2>&1 &
app=$!
trap 'kill $app 2>/dev/null || true; wait $app 2>/dev/null || true' EXIT

# The window is up once X knows it; without a window manager it also needs
# the input focus explicitly.
window=
for _ in $(seq 600); do
    window=$(xdotool search --onlyvisible --name '^groundwork$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 $app 2>/dev/null || { echo "tour: the check mode ended early" >&2; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "tour: no check-mode window after 60 s" >&2; exit 1; }
xdotool windowfocus --sync "$window"
sleep 0.5

shot() { sleep "${2:-0.4}"; import -window root "$out/$1.png"; }
# Panel keys one at a time: a soft key's shortcut clicks its button about
# 100 ms later, and the next key must find the new page.
keys() { xdotool key --delay 150 "$@"; }
softkey() { keys "$1"; sleep 0.3; }
home() { keys "$clear" 1; sleep 0.2; }

shot 01-home 0.5

# LCD: the five colours, then the button hidden and shown with clear + 4.
softkey F7
shot 02-lcd-white
n=3
for colour in red green blue black; do
    keys F1
    shot "0$n-lcd-$colour"
    n=$((n + 1))
done
keys F1
keys "$clear" 4
shot 07-lcd-button-hidden
keys "$clear" 4
home

# Keyboard test: the first 12 keys and a few encoder steps, then the rest.
softkey F8
keys "${pc_keys[@]:0:12}"
"$ctl" turn 5 >/dev/null
shot 08-keyboard-partway
keys "${pc_keys[@]:12}"
"$ctl" turn -2 >/dev/null
shot 09-keyboard-complete
home

# Lamp and buzzer: lamp on, two beeps, lamp off.
softkey F9
keys F1
shot 10-lamp-on
keys F2 F2
keys F1
shot 11-lamp-off
home

# IOC and FPGA: the flash identification, then the IOC with its dialog.
softkey F10
keys F1
shot 12-fpga 1.0
keys F2
shot 13-ioc-searching 2.5
# The check ends with "usbswitch -f"; wait for it, bounded.
for _ in $(seq 150); do
    "$ctl" transcript | grep '"path": "usbswitch", "args": \["-f"\]' >/dev/null && break
    sleep 0.1
done
shot 14-ioc-fpga-verdicts 0.8
home

"$ctl" transcript >"$out/transcript.jsonl"
python3 "$here/tour-report.py" "$out" | tee "$out/report.txt"
