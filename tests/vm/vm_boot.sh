#!/usr/bin/env bash
# The one boot of the virtual board that every `vm` test shares (the CTest
# fixture "vm"): the disk image, rebuilt if the package changed, and QEMU
# started in the background. vm_poweroff ends it after the last of them.
#   vm_boot.sh SOURCE_DIR
set -euo pipefail
src=$1
for tool in qemu-system-x86_64 debootstrap python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
if [ "$(id -u)" -ne 0 ] && [ ! -f "$src/build/vm/image/disk.img" ]; then
    echo "SKIP: building the virtual board's image needs root"
    exit 77
fi
started=$SECONDS
bash "$src/scripts/vm.sh" image >/dev/null
echo "image ready in $((SECONDS - started)) s (0 when cached)"
bash "$src/scripts/vm.sh" start
