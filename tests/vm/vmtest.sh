# shellcheck shell=bash
# Sourced by the virtual board's tests, with src set to the source tree.
# vm_test_setup OUTDIR [TOOL...]: skips (77) without QEMU, debootstrap,
# python3 or one of the TOOLs, or as a plain user without an image built
# before (building one needs root); then an empty OUTDIR.
src=${src:?the test sets src before it sources vmtest.sh}
vm_test_setup() {
    local out=$1 tool
    shift
    for tool in qemu-system-x86_64 debootstrap python3 "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    if [ "$(id -u)" -ne 0 ] && [ ! -f "$src/build/vm/image/disk.img" ]; then
        echo "SKIP: building the virtual board's image needs root"
        exit 77
    fi
    rm -rf "$out"
    mkdir -p "$out"
}
vm() { bash "$src/scripts/vm.sh" "$@"; }
