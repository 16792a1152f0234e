#!/usr/bin/env bash
# The virtual board: Debian 12 with Debian's kernel and systemd in QEMU, our
# checkmode package installed as on the board, its hardware played by
# stand-ins on the guest's real kernel interfaces (vm/).
#   scripts/vm.sh image          build the disk image, or reuse the one that
#                                matches the package and the stand-ins
#   scripts/vm.sh start          boot it in the background (build/vm/run)
#   scripts/vm.sh wait           wait until the check mode's unit runs
#   scripts/vm.sh guest COMMAND  run a shell command in the guest
#   scripts/vm.sh shot FILE.png  photograph the screen
#   scripts/vm.sh stop           power it off
#   scripts/vm.sh show           boot it in a window (needs a display)
# The control socket build/vm/run/control.sock answers the simulator's
# commands: BOARDSIM_CONTROL=build/vm/run/control.sock boardsim-ctl turn 5
# Emulation only (TCG); VM_ACCEL=kvm opts into KVM where it really works.
# VM_ARCH=armhf (or --arch armhf before the command): the 32-bit ARM board,
# in build/vm-armhf beside the PC's build/vm (vm/armhf.sh).
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
repo=$PWD
arch=${VM_ARCH:-amd64}
if [ "${1:-}" = --arch ]; then
    arch=$2
    shift 2
fi
work=$repo/build/vm qemu=qemu-system-x86_64
case $arch in
amd64) ;;
armhf)
    # shellcheck source=vm/armhf.sh
    . vm/armhf.sh
    work=$repo/build/vm-armhf qemu=qemu-system-arm
    ;;
*)
    echo "vm: no virtual board for $arch (amd64, armhf)" >&2
    exit 2
    ;;
esac
run=$work/run
host=$repo/vm/vmhost.py

image() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "vm: building the image needs root (debootstrap, chroot)" >&2
        exit 1
    fi
    local deb agent key arch_key=""
    if [ "$arch" = armhf ]; then
        armhf_build
        arch_key=$(armhf_image_key)
    else
        bash scripts/package.sh >&2
        cmake --build build/package --target vm-agent vm-board-tool kernel-rows -j "${JOBS:-$(nproc)}" >&2
        deb=out/packages/checkmode_$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
            build/package/CMakeCache.txt)_amd64.deb
        agent=build/package/vm/vm-agent
    fi
    # The image is rebuilt when the package, the agent, the board tools, the
    # kernel rows or a stand-in changes: by the package's contents, as CPack stamps every build
    # with its time, and without its documentation, whose changelog carries
    # the time of every configure (and which the board does not run).
    key=$({
        dpkg-deb -f "$deb"
        dpkg-deb --fsys-tarfile "$deb" | tar -xO --exclude='./usr/share/doc/*'
        cat "$agent" "$(dirname "$agent")/vm-board-tool" "$(dirname "$agent")/kernelrows/kernel-rows" \
            vm/build-image.sh vm/boardgpio/* vm/guest/*
        [ -z "$arch_key" ] || echo "$arch_key"
    } | sha256sum | cut -c1-16)
    if [ ! -f "$work/image-$key/disk.img" ]; then
        local started=$SECONDS
        mkdir -p "$work"
        find "$work" -maxdepth 1 -name 'image-*' -exec rm -rf {} +
        VM_ARCH=$arch bash vm/build-image.sh "$deb" "$agent" "$work/image-$key" >&2
        echo "vm: image built in $((SECONDS - started)) s" >&2
    fi
    ln -sfn "image-$key" "$work/image"
    echo "$work/image"
}

qemu_args() {
    local img=$work/image
    if [ "$arch" = armhf ]; then
        armhf_qemu_args "$img"
        ports_args virtio-serial-device
        return
    fi
    # shellcheck disable=SC2054 # QEMU's own commas
    local accel=(-accel tcg,thread=multi -cpu max)
    [ "${VM_ACCEL:-}" = kvm ] && accel=(-accel kvm -cpu host)
    # No default devices: an emulated keyboard would take event0 before the
    # encoder, and the PC speaker and power button would add input nodes.
    # Drivers for what the PC machine has and the board has not are left
    # out: each module costs seconds of boot under emulation.
    printf '%s\n' "${accel[@]}" -smp 2 -m 1024 -nodefaults \
        -device bochs-display,xres=800,yres=480 \
        -kernel "$img/vmlinuz" -initrd "$img/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 i8042.nokbd i8042.noaux modprobe.blacklist=pcspkr,button,floppy,ata_piix,kvm_amd,kvm_intel,joydev" \
        -drive "file=$img/disk.img,format=raw,if=virtio,snapshot=on"
    ports_args virtio-serial-pci
}

# The console, QMP and the guest's two virtio-serial ports on the machine's
# virtio-serial controller $1.
ports_args() {
    printf '%s\n' -serial "file:$run/console.log" \
        -qmp "unix:$run/qmp.sock,server=on,wait=off" \
        -device "$1" \
        -chardev "socket,id=agent,path=$run/agent.sock,server=on,wait=off" \
        -device virtserialport,chardev=agent,name=board.agent \
        -chardev "socket,id=shell,path=$run/shell.sock,server=on,wait=off" \
        -device virtserialport,chardev=shell,name=board.shell
}

start() {
    local display=$1
    [ -f "$work/image/disk.img" ] || image >/dev/null
    stop
    mkdir -p "$run"
    local args
    mapfile -t args < <(qemu_args)
    "$qemu" "${args[@]}" -display "$display" -daemonize -pidfile "$run/qemu.pid"
    python3 "$host" relay "$run/agent.sock" "$run/control.sock" >"$run/relay.log" 2>&1 &
    echo $! >"$run/relay.pid"
    for _ in $(seq 100); do
        [ -S "$run/control.sock" ] && break
        sleep 0.1
    done
}

# The screen in QEMU's own window where Debian's qemu-system-gui provides
# one, else on a VNC display of QEMU's, shown by a VNC viewer.
show() {
    if qemu-system-x86_64 -display help 2>/dev/null | grep -x gtk >/dev/null; then
        start gtk
        return
    fi
    local display viewer
    display=$(bash scripts/free-vnc-display.sh)
    start "vnc=127.0.0.1:$display"
    echo "vm: the screen is on VNC display 127.0.0.1:$display" >&2
    viewer=$(command -v xtightvncviewer vncviewer | head -n 1 || true)
    [ -n "$viewer" ] || return 0
    # At the top left, where the panel expects the check mode's screen.
    "$viewer" -viewonly -geometry +0+0 "127.0.0.1:$display" >"$run/viewer.log" 2>&1 &
    echo $! >"$run/viewer.pid"
}

# Until the check mode's unit is active, or TIMEOUT seconds.
wait_ready() {
    local timeout=${1:-180} t0=$SECONDS
    while [ $((SECONDS - t0)) -lt "$timeout" ]; do
        if [ "$(guest 'systemctl is-active checkmode.service' 2>/dev/null)" = active ]; then
            return 0
        fi
        sleep 1
    done
    echo "vm: the check mode did not start within $timeout s" >&2
    return 1
}

guest() {
    timeout 60 python3 "$host" shell "$run/shell.sock" "$*"
}

stop() {
    local f pid
    for f in viewer relay qemu; do
        pid=$(cat "$run/$f.pid" 2>/dev/null) || continue
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        rm -f "$run/$f.pid"
    done
}

case ${1:-} in
image) image ;;
start) start none ;;
show)
    show
    echo "vm: control socket $run/control.sock; scripts/vm.sh stop powers it off" >&2
    ;;
wait) wait_ready "${2:-180}" ;;
guest)
    shift
    guest "$@"
    ;;
shot) python3 "$host" shot "$run/qmp.sock" "$2" ;;
stop) stop ;;
*)
    sed -n '2,18s/^# \{0,1\}//p' "$0" >&2
    exit 2
    ;;
esac
