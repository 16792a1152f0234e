# shellcheck shell=bash
# The end-to-end scripts' verdicts: check NAME COMMAND... runs one check and
# counts it; checks_done LABEL prints the count and fails if any check did.
passed=0 failed=0
check() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name"
    fi
}
checks_done() {
    echo "$1$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
