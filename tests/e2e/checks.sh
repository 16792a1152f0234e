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

# The soft-key bar where the X server's screenshot has it: lines across the
# five buttons (above and below their captions) and down each button's left
# part, black and white at half grey, may differ only by the buttons' shaded
# edges (a pixel each). Fonts and shading are the platforms' own and are not
# compared.
probe() { # IMAGE GEOMETRY: the pixels, 0 or 255 each
    convert "$1" -crop "$2" +repage -colorspace gray -threshold 50% -depth 8 gray:-
}
bar_difference() { # IMAGE REFERENCE: how many probed pixels differ
    local geometry total=0
    for geometry in 800x1+0+412 800x1+0+465 1x70+20+405 1x70+158+405 1x70+296+405 \
        1x70+434+405 1x70+572+405; do
        total=$((total + $(cmp -l <(probe "$1" $geometry) <(probe "$2" $geometry) | wc -l)))
    done
    echo "$total"
}
