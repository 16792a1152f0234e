#!/bin/sh
# Hostile and careless clients of the simulated board, one row each. Inside boardsim,
# boardsim_abuse.py runs the abuse while a well-behaved client checks that `ping` and a
# GPIO read answer within 100 ms; outside, this script reads boardsim's /proc entry
# and holds its CPU time and peak memory (VmHWM) to the row's bounds.
# usage: boardsim_abuse.sh BOARDSIM [SCALE]   (SCALE multiplies the bounds: sanitizers)
set -u
BOARDSIM=$1
SCALE=${2:-1}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

"$BOARDSIM" -- true || exit $(($? == 77 ? 77 : 1))
command -v python3 >/dev/null || { echo "python3 is missing" >&2; exit 77; }

# utime + stime in ms (the command name may hold spaces).
cpu_ms() { sed 's/.*) //' "/proc/$1/stat" | awk -v hz="$(getconf CLK_TCK)" '{ print int(($12 + $13) * 1000 / hz) }'; }
hwm_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }

# Fields split at '@': name, a wrapper for boardsim (its pid stays boardsim's), the
# abuse (see boardsim_abuse.py), CPU bound in ms, peak memory bound in MiB.
while IFS='@' read -r name wrapper abuse cpu_bound mem_bound; do
    # shellcheck disable=SC2086
    $wrapper "$BOARDSIM" -- python3 "$HERE/boardsim_abuse.py" "$abuse" 100 >"$WORK/out" 2>&1 &
    pid=$!
    hwm=0
    # Sampled while it lives (the abuse ends a moment before boardsim does).
    while s=$(cpu_ms $pid 2>/dev/null) && h=$(hwm_kb $pid 2>/dev/null) && [ -n "$h" ]; do
        cpu=$s
        [ "$h" -le "$hwm" ] || hwm=$h
        sleep 0.05
    done
    wait $pid
    status=$?
    [ $status -eq 0 ] || fail "$name: status $status: $(cat "$WORK/out")"
    [ "$cpu" -le $((cpu_bound * SCALE)) ] || fail "$name: boardsim used $cpu ms of CPU, bound $((cpu_bound * SCALE))"
    [ "$hwm" -le $((mem_bound * SCALE * 1024)) ] || fail "$name: boardsim peaked at $hwm kB, bound $((mem_bound * SCALE)) MiB"
    echo "$name: $cpu ms CPU, $hwm kB peak"
done <<'ROWS'
pipelining client that never reads@@pipeline@300@32
one 1 MB bad line@@long-line@300@32
64 MiB without a newline@@no-newline@500@32
EMFILE on accept@prlimit --nofile=64:4096@emfile@300@32
turn past the limit@@huge-turn@1000@32
a million steps in slices@@million-steps@2000@32
ROWS

[ "$failures" -eq 0 ] && echo "all boardsim abuse rows passed"
