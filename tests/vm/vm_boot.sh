#!/usr/bin/env bash
# The one boot of the virtual board that every `vm` test shares (the CTest
# fixture "vm"): the disk image, rebuilt if the package changed, and QEMU
# started in the background. vm_poweroff ends it after the last of them.
#   vm_boot.sh SOURCE_DIR
set -euo pipefail
src=$1
# shellcheck source=SCRIPTDIR/vmtest.sh
. "$src/tests/vm/vmtest.sh"
vm_test_setup ""
started=$SECONDS
vm image >/dev/null
echo "image ready in $((SECONDS - started)) s (0 when cached)"
vm start
