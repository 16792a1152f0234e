# shellcheck shell=bash
# Sourced by the virtual board's tests, with src (the source tree) and arch
# (amd64 or armhf; amd64 if unset) set. Sets work, the board's folder under
# build/, and vm, scripts/vm.sh for that board.
# vm_test_setup OUTDIR [TOOL...]: skips (77) without QEMU, debootstrap,
# python3 or one of the TOOLs, or as a plain user without an image built
# before (building one needs root); then an empty OUTDIR.
src=${src:?the test sets src before it sources vmtest.sh}
arch=${arch:-amd64}
work=$src/build/vm qemu=qemu-system-x86_64
if [ "$arch" != amd64 ]; then
    work=$src/build/vm-$arch qemu=qemu-system-arm
fi
vm_test_setup() {
    local out=$1 tool
    shift
    for tool in $qemu debootstrap python3 "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    if [ "$(id -u)" -ne 0 ] && [ ! -f "$work/image/disk.img" ]; then
        echo "SKIP: building the virtual board's image needs root"
        exit 77
    fi
    [ -z "$out" ] || { rm -rf "$out" && mkdir -p "$out"; }
}
vm() { bash "$src/scripts/vm.sh" --arch "$arch" "$@"; }
