#!/bin/sh
# Hostile and careless clients of the simulated board, one row each. Inside boardsim,
# boardsim_abuse.py runs the abuse while a well-behaved client checks that `ping` and a
# GPIO read go on answering, and holds boardsim's CPU time to the same abuse at a
# smaller size. Outside, this script answers its requests for boardsim's CPU time
# (boardsim's /proc entry is not in the command's PID namespace) and holds boardsim's
# peak memory (VmHWM) to the row's bound.
# usage: boardsim_abuse.sh BOARDSIM [SCALE]   (SCALE multiplies the memory bounds: sanitizers)
set -u
BOARDSIM=$1
SCALE=${2:-1}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# AddressSanitizer holds freed memory back (256 MiB by default) before reusing
# it: what boardsim itself keeps would drown in it.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16"

"$BOARDSIM" -- true || exit $(($? == 77 ? 77 : 1))
command -v python3 >/dev/null || { echo "python3 is missing" >&2; exit 77; }

# utime + stime in ms (the command name may hold spaces).
cpu_ms() { sed 's/.*) //' "/proc/$1/stat" | awk -v hz="$(getconf CLK_TCK)" '{ print int(($12 + $13) * 1000 / hz) }'; }
hwm_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }

# Fields split at '@': name, a wrapper for boardsim (its pid stays boardsim's), the
# abuse (see boardsim_abuse.py), peak memory bound in MiB.
while IFS='@' read -r name wrapper abuse mem_bound; do
    marks=$WORK/marks
    rm -rf "$marks" && mkdir "$marks"
    # shellcheck disable=SC2086
    ABUSE_MARKS=$marks $wrapper "$BOARDSIM" -- python3 "$HERE/boardsim_abuse.py" "$abuse" \
        >"$WORK/out" 2>&1 &
    pid=$!
    hwm=0
    # Sampled while it lives (the abuse ends a moment before boardsim does).
    while h=$(hwm_kb $pid 2>/dev/null) && [ -n "$h" ]; do
        [ "$h" -le "$hwm" ] || hwm=$h
        for req in "$marks"/*.req; do
            [ -e "$req" ] || break
            cpu_ms $pid >"${req%.req}.tmp" && mv "${req%.req}.tmp" "${req%.req}.cpu"
            rm -f "$req"
        done
        sleep 0.02
    done
    wait $pid
    status=$?
    [ $status -eq 0 ] || fail "$name: status $status"
    [ "$hwm" -le $((mem_bound * SCALE * 1024)) ] || fail "$name: boardsim peaked at $hwm kB, bound $((mem_bound * SCALE)) MiB"
    echo "== $name: $hwm kB peak"
    cat "$WORK/out"
done <<'ROWS'
pipelining client that never reads@@pipeline@32
one 1 MB bad line@@long-line@32
64 MiB without a newline@@no-newline@32
EMFILE on accept@prlimit --nofile=64:4096@emfile@32
turn past the limit@@huge-turn@32
a million steps in slices@@million-steps@32
ROWS

[ "$failures" -eq 0 ] && echo "all boardsim abuse rows passed"
