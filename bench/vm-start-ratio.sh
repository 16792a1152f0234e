#!/usr/bin/env bash
# The check mode's start on the virtual board against a bare Qt window's: from
# `systemctl start` to the first frame on /dev/fb0, each program as a unit
# with the check mode's environment file (linuxfb, 800 x 480, the keypad),
# alternately, RUNS times each (5 by default). Reports the figures and their
# ratio; asserts nothing. Boots the virtual board (scripts/vm.sh) and powers it
# off again, unless it runs already.
#   bench/vm-start-ratio.sh [RUNS]      (VM_ARCH=armhf: on the ARM board)
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
runs=${1:-5}
vm() { bash scripts/vm.sh "$@"; }

# A virtual board that runs already is used as it is, and left running.
if ! vm guest true >/dev/null 2>&1; then
    vm start
    trap 'vm stop' EXIT
fi
vm wait 600 >/dev/null

# One start in the guest, as a script there (the guest's shell port takes one
# line a command): the units stopped, the screen's probe pixel (600, 330:
# the home page's text box below its text, white) made black, then the time
# from `systemctl start UNIT` until the pixel is white. The framebuffer is
# 32-bit XRGB, 800 pixels a line; perl-base is all the guest has to read it.
measure=$(
    cat <<'GUEST'
systemctl stop checkmode.service bare-window.service
offset=$(((330 * 800 + 600) * 4))
perl -e 'open(F, "+<", "/dev/fb0") or die; seek(F, $ARGV[0], 0); print F "\0\0\0\0"' $offset
t0=$(date +%s%N)
systemctl start "$1"
perl -e '
    open(F, "<", "/dev/fb0") or die;
    for (1 .. 20000) {
        seek(F, $ARGV[0], 0);
        read(F, $p, 4);
        my ($b, $g, $r) = unpack("C3", $p);
        exit 0 if $r > 200 && $g > 200 && $b > 200;
        select(undef, undef, undef, 0.005);
    }
    exit 1' $offset
echo $((($(date +%s%N) - t0) / 1000000))
GUEST
)
vm guest "echo $(base64 -w0 <<<"$measure") | base64 -d >/run/start-ms.sh"
start_ms() { vm guest "sh /run/start-ms.sh $1"; }

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
