#!/usr/bin/env bash
# The check mode's start on the virtual board against a bare Qt window's: from
# `systemctl start` to the first frame on /dev/fb0, each program as a unit
# with the check mode's environment file (linuxfb, 800 x 480, the keypad),
# alternately, RUNS times each (5 by default). Reports the figures and their
# ratio; asserts nothing. Boots the virtual board (scripts/vm.sh) and powers it
# off again.
#   bench/vm-start-ratio.sh [RUNS]
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
runs=${1:-5}
vm() { bash scripts/vm.sh "$@"; }

vm start
trap 'vm stop' EXIT
vm wait 600 >/dev/null

# One start in the guest: the unit stopped, the screen's probe pixel
# (300, 250: the home page's text box, white) made black, then the time from
# `systemctl start` until the pixel is white. The framebuffer is 32-bit
# XRGB, 800 pixels a line; perl-base is all the guest has to read it with.
# shellcheck disable=SC2016 # expanded in the guest
measure='
unit=$1
systemctl stop checkmode.service bare-window.service
offset=$(((250 * 800 + 300) * 4))
perl -e "open(F, \"+<\", \"/dev/fb0\") or die; seek(F, $offset, 0); print F \"\\0\\0\\0\\0\"" 
t0=$(date +%s%N)
systemctl start "$unit"
perl -e "
    open(F, \"<\", \"/dev/fb0\") or die;
    for (1 .. 20000) {
        seek(F, $offset, 0); read(F, \$p, 4);
        my (\$b, \$g, \$r) = unpack(\"C3\", \$p);
        exit 0 if \$r > 200 && \$g > 200 && \$b > 200;
        select(undef, undef, undef, 0.005);
    }
    exit 1"
echo $((($(date +%s%N) - t0) / 1000000))
'
start_ms() { vm guest "set -- $1; $measure"; }

checkmode=() bare=()
for i in $(seq "$runs"); do
    checkmode+=("$(start_ms checkmode.service)")
    bare+=("$(start_ms bare-window.service)")
    echo "run $i: checkmode ${checkmode[-1]} ms, bare window ${bare[-1]} ms" >&2
done
vm guest 'systemctl stop bare-window.service; systemctl start checkmode.service'

median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
mc=$(median "${checkmode[@]}") mb=$(median "${bare[@]}")
echo "Start to first frame on the virtual board, $runs runs each, alternating (ms)"
echo "  checkmode:   ${checkmode[*]} (median $mc)"
echo "  bare window: ${bare[*]} (median $mb)"
echo "  ratio of the medians: $(awk "BEGIN { printf \"%.2f\", $mc / $mb }")"
