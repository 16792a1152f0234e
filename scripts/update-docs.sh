#!/usr/bin/env bash
# Remakes the README's screenshots in docs/ from a fresh tour of the real
# check mode on the simulated board (no drawing by hand).
set -euo pipefail
cd "$(dirname "$0")/.."
env -u DISPLAY CHECKMODE_TOUR_DIR="$PWD/out/tour" bash scripts/run.sh
for shot in 01-home 08-keyboard-partway 03-lcd-red 10-lamp-on 13-ioc-searching \
    14-ioc-fpga-verdicts; do
    cp "out/tour/$shot.png" "docs/$shot.png"
done
echo "docs/ updated from out/tour/"
