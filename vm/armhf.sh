# shellcheck shell=bash disable=SC2034 # its variables are the caller's
# The 32-bit ARM board's side of the virtual board, sourced by scripts/vm.sh
# and vm/build-image.sh when VM_ARCH=armhf: Debian armhf with the armmp-lpae
# kernel on QEMU's "virt" machine, a Cortex-A15 like the board's, emulated.

armhf_flavour=armmp-lpae
# The root disk's path before the root is mounted. virtio_mmio is built into
# armmp-lpae; naming it costs nothing and keeps the list right should it not be.
armhf_initrd_modules=(virtio_mmio virtio_blk ext4)

# ARM programs run on the PC through qemu-user's binfmt_misc entry, which
# qemu-user-static registers with the F flag: the kernel opens the static
# interpreter once, so it works inside a chroot that does not hold it.
armhf_binfmt() {
    [ -e /proc/sys/fs/binfmt_misc/qemu-arm ] && return 0
    mountpoint -q /proc/sys/fs/binfmt_misc ||
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    update-binfmts --enable qemu-arm
    [ -e /proc/sys/fs/binfmt_misc/qemu-arm ] || {
        echo "vm: no binfmt_misc entry for ARM programs (qemu-user-static, binfmt-support)" >&2
        return 1
    }
}

# armhf_debootstrap INCLUDE DIR MIRROR: the first stage unpacks on the PC, the
# second runs the armhf maintainer scripts under qemu-user.
armhf_debootstrap() {
    armhf_binfmt
    debootstrap --arch=armhf --foreign --variant=minbase --include="$1" bookworm "$2" "$3"
    # The kernel's first initrd, which the image replaces, with the root
    # disk's modules only: with every module it takes a quarter of an hour of
    # emulated processes.
    mkdir -p "$2/etc/initramfs-tools/conf.d"
    echo MODULES=list >"$2/etc/initramfs-tools/conf.d/board-base"
    chroot "$2" /debootstrap/debootstrap --second-stage
}

# What of this file goes into the image, for scripts/vm.sh's image key: QEMU's
# arguments do not.
armhf_image_key() {
    echo "$armhf_flavour ${armhf_initrd_modules[*]}"
    declare -f armhf_binfmt armhf_debootstrap
}

# Sets deb and agent: the board's own armhf package and the static ARM agent,
# with the board tools beside it, all from the cross build of
# scripts/package.sh armhf. It runs on the host when the armhf libraries are
# installed there (multiarch); else scripts/armhf-check.sh builds the package
# in its chroot of the main suite (the host's armhf index broken), and the
# agent and tools are built beside it there.
armhf_build() {
    local jobs=${JOBS:-$(nproc)}
    if dpkg-query -W -f='${Status}\n' qtbase5-dev:armhf 2>/dev/null | grep 'ok installed' >/dev/null; then
        bash scripts/package.sh armhf >&2
        cmake --build build/package-armhf --target vm-agent vm-board-tool kernel-rows -j "$jobs" >&2
        agent=build/package-armhf/vm/vm-agent
    else
        bash scripts/armhf-check.sh >&2
        local chroot_dir=${ARMHF_CHROOT_DIR:-build/armhf-chroot}
        chroot "$chroot_dir" cmake --build /root/src/build/package-armhf \
            --target vm-agent vm-board-tool kernel-rows -j "$jobs" >&2
        agent=$chroot_dir/root/src/build/package-armhf/vm/vm-agent
    fi
    deb=$(find out/packages -name 'checkmode_*_armhf.deb' -print -quit)
}

# QEMU's machine, kernel and disk for the image in $1; scripts/vm.sh adds
# the ports.
armhf_qemu_args() {
    local img=$1
    # The virt machine's power button is a gpio-keys device on its PL061, and
    # armmp-lpae has gpio_keys built in: it would be the first input device,
    # event0, ahead of the encoder. Its initcall is skipped instead. joydev
    # would take the encoder's axis for a joystick, as on the PC.
    # virtio-mmio is a legacy (0.9) transport unless told otherwise, and
    # virtio_gpu refuses a device without VIRTIO_F_VERSION_1: no /dev/fb0.
    # shellcheck disable=SC2054 # QEMU's own commas
    printf '%s\n' -M virt -cpu cortex-a15 -accel tcg,thread=multi -smp 2 -m 1024 -nodefaults \
        -global virtio-mmio.force-legacy=false \
        -device virtio-gpu-device,xres=800,yres=480 \
        -kernel "$img/vmlinuz" -initrd "$img/initrd.img" \
        -append "root=/dev/vda rw console=ttyAMA0 initcall_blacklist=gpio_keys_init modprobe.blacklist=joydev" \
        -drive "file=$img/disk.img,format=raw,if=none,id=root,snapshot=on" \
        -device virtio-blk-device,drive=root
}
