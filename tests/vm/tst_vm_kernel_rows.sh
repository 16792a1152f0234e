#!/usr/bin/env bash
# The kernel rows (tests/boardsim/kernelrows) on Debian's own kernel: the
# table that kernel_rows runs on boardsim's FUSE files runs in the virtual
# board's guest, on a uinput device of its own and the GPIO chip module's
# lines 150-159, beside the running check mode, which must not notice.
#   tst_vm_kernel_rows.sh SOURCE_DIR OUTDIR
set -uo pipefail
src=$1 out=$2
# shellcheck source=SCRIPTDIR/vmtest.sh
. "$src/tests/vm/vmtest.sh"
vm_test_setup "$out"
vm image >"$out/image.log" 2>&1 || { tail -n 20 "$out/image.log"; echo "FAIL: no image"; exit 1; }
trap 'vm stop' EXIT
vm start || { echo "FAIL: QEMU did not start"; exit 1; }
vm wait 300 || exit 1
# Until the check mode keeps one process for 10 s: at boot its first start can
# fail on a framebuffer not there yet, and systemd starts it again.
pid() { vm guest 'systemctl show -p ExecMainPID --value checkmode.service'; }
before=$(pid)
for _ in $(seq 12); do
    sleep 10
    [ "$(pid)" = "$before" ] && break
    before=$(pid)
done
vm guest /usr/local/lib/board/kernel-rows | tee "$out/kernel-rows.log"
status=${PIPESTATUS[0]}
after=$(pid)
if [ "$before" != "$after" ] || [ "$(vm guest 'systemctl is-active checkmode.service')" != active ]; then
    echo "FAIL: the check mode did not run on beside the rows ($before, then $after)"
    exit 1
fi
exit "$status"
