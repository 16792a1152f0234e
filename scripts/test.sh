#!/usr/bin/env bash
# Builds the project and runs the whole test suite.
#   scripts/test.sh          the default build
#   scripts/test.sh asan     with AddressSanitizer and UndefinedBehaviorSanitizer
#   scripts/test.sh tsan     the encoder and window tests with ThreadSanitizer
#   scripts/test.sh vm       the check mode on the virtual boards (QEMU, root)
# Further arguments go to ctest (scripts/test.sh vm -LE armhf).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
# The virtual board's tests run from the default build.
build=$preset
[ "$preset" = vm ] && build=default

bash scripts/deps.sh
cmake --preset "$build"
cmake --build --preset "$build" -j "$(nproc)"

if [ "$preset" = asan ]; then
    # Qt and fontconfig keep caches until exit that LeakSanitizer would list.
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
if [ "$preset" = tsan ]; then
    # Qt is not built with ThreadSanitizer; tests/tsan.supp says what it cannot see.
    export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$PWD/tests/tsan.supp:second_deadlock_stack=1}
fi
ctest --preset "$preset" "${@:2}"
