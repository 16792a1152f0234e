#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Idempotent and quick when everything is there already: apt-get runs only
# for what is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5test5
    libfuse3-dev fuse3
    # the board simulator's command filters and its JSON
    libseccomp-dev nlohmann-json3-dev
    xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core
    python3 tesseract-ocr tesseract-ocr-eng
    # scripts/lint.sh and the memory checks
    clang-format clang-tidy cppcheck shellcheck valgrind
    # scripts/fuzz.sh: libFuzzer and the sanitizers' runtimes come with clang
    clang libclang-rt-14-dev
    # packaging, the board's unit and its screenshots
    dpkg-dev lintian systemd vncsnapshot
    # real evdev clients that judge the simulated input nodes
    evemu-tools evtest
    # the virtual board: scripts/vm.sh builds a Debian image and boots it;
    # debootstrap also makes the chroots of scripts/chroot-check.sh and
    # scripts/armhf-check.sh
    qemu-system-x86 qemu-utils debootstrap e2fsprogs dosfstools mtools
    # a viewer of QEMU's VNC display for scripts/run.sh --vm (Debian's QEMU
    # window, qemu-system-gui, would bring GTK and two dozen packages)
    xtightvncviewer
    # and the 32-bit ARM board (scripts/vm.sh --arch armhf): its armhf root is
    # finished by its own maintainer scripts under qemu-user's binfmt_misc entry
    qemu-system-arm qemu-user-static binfmt-support
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep 'install ok installed' >/dev/null; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "These Debian packages are missing and installing them needs root: ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    # A foreign architecture with a broken list must not stop a native install.
    apt-get update -q || echo "deps: apt-get update reported errors; installing from the lists it has" >&2
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
