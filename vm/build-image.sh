#!/usr/bin/env bash
# Builds the virtual board's disk image from Debian's packages:
#   vm/build-image.sh DEB AGENT OUT
# DEB is the checkmode package, AGENT the static guest agent (the board tool,
# the bare window and the kernel rows of the tests are taken from beside it),
# OUT the folder that receives disk.img, vmlinuz and initrd.img. Debootstrap's
# root is kept in build/vm/base and copied for each image, so a new package costs a
# minute, not three. No loop device and no mount outlive the build: the
# chroot's /proc, /sys and /dev are bound only while it runs.
set -euo pipefail
export LC_ALL=C
deb=$(realpath "$1")
agent=$(realpath "$2")
# usbswitch, iocboot and flash: one program, built beside the agent.
boardtool=$(dirname "$agent")/vm-board-tool
out=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(dirname "$out")
base=$work/base
root=$work/root.tmp
mirror=${VM_MIRROR:-http://deb.debian.org/debian}
# VM_ARCH=armhf: the ARM board (vm/armhf.sh).
arch=${VM_ARCH:-amd64} flavour=amd64 initrd_modules=(virtio_pci virtio_blk ext4)
if [ "$arch" = armhf ]; then
    # shellcheck source=vm/armhf.sh
    . "$here/armhf.sh"
    flavour=$armhf_flavour initrd_modules=("${armhf_initrd_modules[@]}")
    armhf_binfmt
fi
# linux-headers for the GPIO module's kbuild; purged again below.
include=systemd-sysv,udev,kmod,linux-image-$flavour,linux-headers-$flavour

if [ "$(cat "$base/.vm-base" 2>/dev/null)" != "$include" ]; then
    rm -rf "$base" "$base.tmp"
    if [ "$arch" = armhf ]; then
        armhf_debootstrap "$include" "$base.tmp" "$mirror"
    else
        debootstrap --variant=minbase --include="$include" bookworm "$base.tmp" "$mirror"
    fi
    echo "$include" >"$base.tmp/.vm-base"
    mv "$base.tmp" "$base"
fi

mounted=()
cleanup() {
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" || true
    done
    mounted=()
    # Never remove a tree with the host's /dev or /sys still bound inside.
    if grep -q " $root/" /proc/mounts; then
        echo "build-image: still mounted under $root; not removing it" >&2
        return
    fi
    rm -rf "$root" "$out.tmp"
}
trap cleanup EXIT INT TERM

rm -rf "$root"
cp -a "$base" "$root"
rm -f "$root/.vm-base"
kernel=$(basename "$(ls -d "$root"/lib/modules/*)")

mkdir -p "$root/tmp/vm" "$root/usr/local/lib/board" "$root/var/lib/board"
cp "$deb" "$root/tmp/vm/"
cp -r "$here/boardgpio" "$root/tmp/vm/"
install -m 0755 "$agent" "$root/usr/local/lib/board/vm-agent"
install -m 0755 "$boardtool" "$root/usr/local/lib/board/board-tool"
install -m 0755 "$here/guest/board-shell" "$root/usr/local/lib/board/"
# bench/vm-start-ratio.sh's bare window, built beside the agent (not enabled).
install -m 0755 "$(dirname "$agent")/vm-bare-window" "$root/usr/local/lib/board/bare-window"
install -m 0644 "$here/guest/bare-window.service" "$root/etc/systemd/system/"
# The kernel rows (tests/boardsim/kernelrows), built beside the agent, run
# in the guest against its own kernel.
rows=$(dirname "$agent")/kernelrows/kernel-rows
[ ! -f "$rows" ] || install -m 0755 "$rows" "$root/usr/local/lib/board/kernel-rows"
for tool in usbswitch iocboot flash; do
    ln -sf ../lib/board/board-tool "$root/usr/local/bin/$tool"
done
install -m 0644 "$here"/guest/board-{agent,shell,usb}.service \
    "$root/etc/systemd/system/"
install -m 0644 "$here/guest/80-board-usb.rules" "$root/etc/udev/rules.d/"
install -m 0644 "$here/guest/board-modules.conf" "$root/etc/modules-load.d/board.conf"
echo board >"$root/etc/hostname"
# Only what finds and mounts the root disk: 6.5 MB instead of 36.
sed -i 's/^MODULES=.*/MODULES=list/' "$root/etc/initramfs-tools/initramfs.conf"
printf '%s\n' "${initrd_modules[@]}" >"$root/etc/initramfs-tools/modules"

# The IOC's flash disk: an MBR with one FAT partition from sector 2048 that
# holds firmware.bin, served by the USB gadget (written without a loop device).
ioc=$root/var/lib/board/ioc.img
truncate -s 16M "$ioc"
printf '\x00\xfe\xff\xff\x0c\xfe\xff\xff\x00\x08\x00\x00\x00\x78\x00\x00' |
    dd of="$ioc" bs=1 seek=446 conv=notrunc status=none
printf '\x55\xaa' | dd of="$ioc" bs=1 seek=510 conv=notrunc status=none
mkfs.vfat -n IOC --offset 2048 "$ioc" 15360 >/dev/null
head -c 65536 /dev/zero | tr '\0' '\377' >"$work/firmware.bin"
mcopy -i "$ioc@@1M" "$work/firmware.bin" ::firmware.bin
rm -f "$work/firmware.bin"

for fs in proc sys dev; do
    mount --bind "/$fs" "$root/$fs"
    mounted+=("$root/$fs")
done
chroot "$root" /bin/sh -e -c "
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends /tmp/vm/$(basename "$deb") make
make -s -C /usr/src/linux-headers-$kernel M=/tmp/vm/boardgpio modules
install -D -m 0644 /tmp/vm/boardgpio/boardgpio.ko /lib/modules/$kernel/extra/boardgpio.ko
depmod $kernel
update-initramfs -u -k $kernel
systemctl enable board-agent.service board-shell.service board-usb.service
# Nothing that would scrub, trim or upgrade a disk thrown away at power-off,
# and no getty on the consoles beside the check mode's.
systemctl mask e2scrub_reap.service e2scrub_all.timer fstrim.timer apt-daily.timer \
    apt-daily-upgrade.timer dpkg-db-backup.timer getty-static.service
apt-get purge -y -q 'linux-headers-*' 'linux-kbuild-*' make
apt-get clean
rm -rf /var/lib/apt/lists/* /tmp/vm
"
for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}"; done
mounted=()

mkdir -p "$out.tmp"
cp "$root/boot/vmlinuz-$kernel" "$out.tmp/vmlinuz"
cp "$root/boot/initrd.img-$kernel" "$out.tmp/initrd.img"
mkfs.ext4 -q -F -L board -d "$root" "$out.tmp/disk.img" 2G
rm -rf "$out"
mv "$out.tmp" "$out"
