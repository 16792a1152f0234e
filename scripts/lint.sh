#!/usr/bin/env bash
# Checks what review checks, and fails on the first kind of finding:
#   - clang-format: the C++ sources are formatted with .clang-format;
#   - shellcheck: the shell scripts;
#   - clang-tidy: the checks named in .clang-tidy, over the compile database;
#   - cppcheck: warning, performance and portability findings.
# Usage: scripts/lint.sh [build preset, default "default"]
# The analysers read the preset's compile database and the headers that
# uic and moc generate, so the preset is configured and built first
# (incremental after scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
preset=${1:-default}
build=$root/build/$preset
jobs=$(nproc)
status=0

bash scripts/deps.sh

step() { printf '== %s\n' "$*"; }
finding() {
    echo "lint: $1 reported findings" >&2
    status=1
}

# The GPIO module is kernel code, in the kernel's own style.
mapfile -t cxx < <(git ls-files '*.cpp' '*.h' '*.c' ':!vm/boardgpio')
mapfile -t units < <(git ls-files '*.cpp' '*.c' ':!vm/boardgpio')
# Every tracked file that starts with a shell interpreter line.
mapfile -t shells < <(git ls-files | while read -r f; do
    [ -f "$f" ] && head -n1 "$f" | grep -E '^#!.*\b(ba)?sh\b' >/dev/null && echo "$f"
done)

step "clang-format (${#cxx[@]} files)"
clang-format --dry-run -Werror "${cxx[@]}" || finding clang-format

step "shellcheck (${#shells[@]} scripts)"
shellcheck -x "${shells[@]}" || finding shellcheck

# Under pipefail, a writer still writing when "grep -q" has found its line and
# left dies of SIGPIPE, and the pipeline fails although the line was there:
# once the output outgrows the pipe, a wait for a transcript line never ends.
step "no pipe into grep -q"
! grep -nE '(^|[^|])\|[[:space:]]*grep[[:space:]]+(-[a-zA-Z]*q|--quiet)' "${shells[@]}" ||
    finding "a pipe into grep -q (read it all: grep ... >/dev/null)"

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$jobs" >/dev/null

# Only our own sources: the compile database also lists the files that moc
# and uic generate under the build tree. fuzz/ is not among them: its targets
# build only with clang's libFuzzer (preset fuzz), so the default build's
# database has no entry for them; clang-format and cppcheck still read them.
sources="^$root/(app|checks|input|tools|tests|bench|vm)/"

step "clang-tidy ($jobs jobs)"
# The header filter is given here because only here is the checkout's path
# known; without it headers under the build tree would be checked too.
if ! run-clang-tidy -quiet -j "$jobs" -p "$build" -header-filter="$sources" "$sources" \
    >"$build/clang-tidy.log" 2>&1; then
    # Without the colours that clang-tidy adds when run-clang-tidy collects it.
    sed 's/\x1b\[[0-9;]*m//g' "$build/clang-tidy.log" | grep -E -A3 'warning:|error:' >&2 ||
        cat "$build/clang-tidy.log" >&2
    finding clang-tidy
fi

step "cppcheck ($jobs jobs)"
# cppcheck is given our sources with their include paths rather than the
# compile database, which would send it through the generated moc files too.
includes=()
while read -r dir; do includes+=(-I "$dir"); done < <(
    find "$build" -type d -path '*_autogen/include' | sort)
if ! cppcheck --quiet --error-exitcode=1 -j "$jobs" --std=c++17 --language=c++ \
    --enable=warning,performance,portability --inline-suppr --library=qt \
    -I app -I checks/iocfpga -I checks/lampbuzzer -I checks/lcd -I input \
    -I tools/boardsim -I tools/boardsim/protocol -I tools/boardsim/panel \
    "${includes[@]}" "${units[@]}"; then
    finding cppcheck
fi

[ "$status" -eq 0 ] && echo "lint: no findings"
exit "$status"
