#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`, clang) and runs each for a
# bounded time, starting from its seed corpus in fuzz/corpus/. Fails on any
# crash, sanitizer report, leak, hang or runaway memory.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# SECONDS per target, 30 by default; TARGETs are corpus names
# (encoderrecords, ...), all of them by default. What a run adds to the
# corpus stays under build/fuzz/corpus/; an input that failed is saved in
# out/fuzz/ and replays with `build/fuzz/fuzz/fuzz_TARGET out/fuzz/FILE`.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-30}
shift || true

bash scripts/deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

if [ $# -gt 0 ]; then
    targets=("$@")
else
    mapfile -t targets < <(find fuzz/corpus -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort)
fi

# Leaks count as findings; the sanitizers stop at their first report. The
# fast unwinder on malloc (frame pointers only) keeps a run at full speed.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p out/fuzz
status=0
summary=()
for t in "${targets[@]}"; do
    binary=$root/build/fuzz/fuzz/fuzz_$t
    work=$root/build/fuzz/corpus/$t
    log=$root/out/fuzz/$t.log
    mkdir -p "$work"
    echo "== fuzz_$t for ${seconds}s"
    # One input may take this long before it counts as a hang; every parser
    # here answers in microseconds.
    if "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$root/out/fuzz/$t-" \
        "$work" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
        result=ok
    else
        result="FAILED (see $log)"
        status=1
        grep -E -A20 '^==[0-9]+==ERROR|runtime error|property broken|ALARM|out-of-memory' \
            "$log" | head -40 >&2 || tail -20 "$log" >&2
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    summary+=("$(printf '%-16s %12s runs  %s' "$t" "${runs:-?}" "$result")")
done

echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
exit "$status"
