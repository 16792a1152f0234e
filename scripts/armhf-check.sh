#!/bin/bash
# Builds checkmode for the 32-bit ARM board (Debian armhf) and runs the whole
# test suite under qemu-arm, on a Debian 12 PC, from Debian's packages alone.
#
#   scripts/armhf-check.sh            (as root when packages are missing)
#   scripts/armhf-check.sh --chroot   (as root: straight to the chroot, 5.)
#
# 1. Installs the cross tool chain, the armhf Qt libraries and qemu-user next
#    to the native packages (multiarch), unless they are installed already.
#    The install is simulated first; a plan that removes or downgrades any
#    package is refused.
# 2. Builds the simulated board natively in build/default. It stays native:
#    it mounts FUSE file systems and enters the host's namespaces, which
#    qemu-user cannot host, and the ARM test binaries run under it as
#    `boardsim -- qemu-arm tst_x`. Only its client library is cross-built,
#    because the ARM tests link it.
# 3. Configures and builds the `armhf` preset in build/armhf, checks that
#    `checkmode` is an ARM EABI5 program and runs the suite through qemu-arm.
# 4. Builds the board's package, out/packages/checkmode_VERSION_armhf.deb
#    (scripts/package.sh armhf), and checks that it is one for armhf that
#    holds an ARM EABI5 program.
# 5. When the host's package index is inconsistent, so that the armhf
#    packages cannot be installed next to the native ones (on the mirror this
#    runs against, the security archive's armhf list fails to download and
#    leaves libsystemd0:armhf behind the native one), steps 1 to 4 run in a
#    fresh Debian 12 chroot in build/armhf-chroot instead, whose apt sources
#    name the main suite alone, so that its armhf and native lists match. The
#    source is copied in and built there; the package comes out to
#    out/packages. The chroot stays for the next run, which only updates it.
#    Its mounts are undone on every way out (scripts/chroot-lib.sh).
#    Without root neither way works: it says "armhf check skipped: <reason>"
#    and exits 0.
#
# Exit status: 0 when the suite passed (or the check was skipped as above),
# non-zero for a refused install plan, a build failure or a failing test.
#
# Environment: JOBS (build jobs, default 2); CTEST_PARALLEL_LEVEL is passed on
# to ctest as usual; ARMHF_CHROOT_DIR (default build/armhf-chroot);
# DEBIAN_MIRROR and CHECKMODE_CHROOT_STANDIN as in scripts/chroot-lib.sh.
# ARMHF_CHECK_IN_CHROOT=1 marks the run inside the chroot.

set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${JOBS:-2}
native_dir="$root/build/default"
armhf_dir="$root/build/armhf"
chroot_dir=${ARMHF_CHROOT_DIR:-$root/build/armhf-chroot}
in_chroot=${ARMHF_CHECK_IN_CHROOT:-}

# The simulator is not cross-built, so libfuse3-dev:armhf is not needed.
# file is what tells the ARM binary from a host one at the end.
packages=(crossbuild-essential-armhf qtbase5-dev:armhf libqt5test5:armhf qemu-user file)

# The machine may be shared with running builds: wait for another apt or dpkg
# instead of failing on its lock.
apt_options=(-o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)

say() { printf '== armhf: %s\n' "$*"; }

fail() {
    printf '== armhf: FAILED: %s\n' "$*" >&2
    exit 1
}

skip() {
    local line='########################################################################'
    printf '%s\n### armhf check skipped: %s\n%s\n' "$line" "$*" "$line"
    exit 0
}

# The host's packages cannot be installed: the same check in a chroot.
host_unusable() {
    # An armhf architecture whose index cannot be read makes every later
    # `apt-get update` on this machine fail, native installs included: take
    # it away again if this run added it and nothing of it got installed.
    if [ "$added_architecture" = yes ] &&
        dpkg --remove-architecture armhf 2>/dev/null; then
        say "removed the armhf architecture again"
    fi
    # Only the main suite is in the chroot's sources: an inconsistent index
    # there is a fault to see, not the mirror's state to step around.
    [ -z "$in_chroot" ] || fail "in the chroot: $*"
    say "$*"
    check_in_chroot
}

# Seconds since the epoch, for the times reported at the end.
now() { date +%s; }

missing_packages() {
    local package status
    for package in "${packages[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)
        [ "$status" = installed ] || printf '%s\n' "$package"
    done
}

# Reads `apt-get -s install` output on stdin; prints the lines of every
# removal and every downgrade it plans.
harmful_plan_lines() {
    local line package old new
    while IFS= read -r line; do
        case $line in
        Remv\ * | Purg\ *)
            printf '%s\n' "$line"
            ;;
        Inst\ *\[*\]\ \(*)
            # "Inst pkg [installed version] (new version suite [arch])"
            old=${line#*\[}
            old=${old%%\]*}
            new=${line#*\(}
            new=${new%% *}
            if dpkg --compare-versions "$new" lt "$old"; then
                printf '%s\n' "$line"
            fi
            ;;
        esac
    done
}

install_packages() {
    local -a missing
    mapfile -t missing < <(missing_packages)
    if [ ${#missing[@]} -eq 0 ]; then
        say "packages already installed: ${packages[*]}"
        install_seconds=0
        return
    fi
    say "missing packages: ${missing[*]}"
    [ "$(id -u)" -eq 0 ] || skip "installing ${missing[*]} needs root, and so does" \
        "building in a chroot instead (debootstrap, mount, chroot)"

    local started
    started=$(now)
    if ! dpkg --print-foreign-architectures | grep -x armhf >/dev/null; then
        say "adding the armhf architecture"
        dpkg --add-architecture armhf || fail "dpkg --add-architecture armhf"
        added_architecture=yes
    fi

    # A failed index download is not fatal yet: apt keeps the indexes it has,
    # and the simulation below decides whether they are good enough.
    local update_log update_errors=""
    update_log=$(apt-get "${apt_options[@]}" update 2>&1)
    printf '%s\n' "$update_log"
    update_errors=$(grep -E '^(E|Err):' <<<"$update_log" | head -n 1)

    local plan
    plan=$(LC_ALL=C apt-get "${apt_options[@]}" -s install --no-install-recommends \
        "${missing[@]}" 2>&1)
    local plan_status=$?
    printf '%s\n' "$plan" | grep -vE '^(Inst|Conf) '
    if [ $plan_status -ne 0 ]; then
        # apt found no way to install them at all: the armhf index does not
        # match the native packages (usually a security index that failed to
        # download or lags behind the native one).
        local reason
        reason=$(grep -m 1 -E '^ [^ ].* : (Depends|PreDepends|Breaks|Conflicts)' <<<"$plan")
        [ -n "$reason" ] || reason=$(grep -m 1 '^E:' <<<"$plan")
        host_unusable "package index inconsistent, apt cannot install ${missing[*]}:" \
            "${reason# }${update_errors:+ (apt-get update: $update_errors)}"
    fi

    local harmful
    harmful=$(harmful_plan_lines <<<"$plan")
    if [ -n "$harmful" ]; then
        printf '%s\n' "$harmful" >&2
        fail "refusing to install: the plan removes or downgrades the packages above"
    fi
    say "install plan: $(grep -c '^Inst ' <<<"$plan") packages, nothing removed or downgraded"

    local install_log
    install_log=$(DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" -y \
        --no-install-recommends --no-remove install "${missing[@]}" 2>&1)
    local install_status=$?
    printf '%s\n' "$install_log" | tail -n 20
    if [ $install_status -ne 0 ]; then
        # Archives that cannot be fetched are the mirror's state as well; a
        # dpkg failure is not and fails the check.
        if grep -qE 'Failed to fetch|Unable to fetch|Hash Sum mismatch|unexpected size' \
            <<<"$install_log"; then
            host_unusable "package archives could not be fetched:" \
                "$(grep -m 1 '^E:' <<<"$install_log")"
        fi
        fail "apt-get install ${missing[*]} ($(grep -m 1 '^E:' <<<"$install_log"))"
    fi
    install_seconds=$(($(now) - started))
    say "installed in ${install_seconds} s"
}

build_native_simulator() {
    if [ ! -f "$native_dir/CMakeCache.txt" ]; then
        cmake --preset default -S "$root" || fail "configuring the native build"
    fi
    local -a targets=()
    local target available
    available=$(cmake --build "$native_dir" --target help 2>/dev/null)
    for target in boardsim boardsim-tool boardsim-ctl; do
        if grep -qE "^\.\.\. $target( |\$)" <<<"$available"; then
            targets+=("$target")
        fi
    done
    if [ ${#targets[@]} -eq 0 ]; then
        say "no simulator in this tree: the board tests are not part of the ARM suite"
        boardsim=""
        return
    fi
    say "building the native simulator: ${targets[*]}"
    cmake --build "$native_dir" --target "${targets[@]}" -j "$jobs" ||
        fail "building the native simulator"
    boardsim="$native_dir/tools/boardsim/boardsim"
    if [ ! -x "$boardsim" ]; then
        boardsim=$(find "$native_dir" -type f -name boardsim -perm -u+x -print -quit)
    fi
    [ -n "$boardsim" ] || fail "the native build has no boardsim executable"
}

# Step 5: the whole check again inside the chroot, from a copy of this tree.
check_in_chroot() {
    # shellcheck source=scripts/chroot-lib.sh
    source "$root/scripts/chroot-lib.sh"
    local started total_started
    total_started=$(now)
    say "building and testing in a Debian 12 chroot with the main suite only: $chroot_dir"
    chroot_prepare
    chroot_mount
    printf 'deb %s bookworm main\n' "$chroot_mirror" >"$chroot_dir/etc/apt/sources.list"
    rm -f "$chroot_dir"/etc/apt/sources.list.d/*

    started=$(now)
    # dpkg --configure -a finishes what an interrupted run left half-installed.
    local log=/var/log/checkmode-apt.log
    chroot_step apt sh -c "{ dpkg --configure -a && dpkg --add-architecture armhf &&
        apt-get update -q && apt-get install -y -q --no-install-recommends ${chroot_packages[*]}
        } >$log 2>&1 || { tail -n 30 $log; exit 1; }" ||
        fail "installing the packages in the chroot"
    local apt_seconds=$(($(now) - started))
    say "packages in the chroot: $apt_seconds s"

    # Everything but the builds and the packages, which stay in the chroot
    # for the next run; tar keeps the times, so that make rebuilds only what
    # changed.
    local src="$chroot_dir/root/src"
    mkdir -p "$src"
    find "$src" -mindepth 1 -maxdepth 1 ! -name build ! -name out -exec rm -rf {} + ||
        fail "clearing $src"
    tar -C "$root" --exclude=./build --exclude=./out --exclude=./.git -cf - . |
        tar -C "$src" -xf - || fail "copying the source to $src"

    started=$(now)
    rm -f "$src"/out/packages/checkmode_*_armhf.deb
    chroot_step build ARMHF_CHECK_IN_CHROOT=1 JOBS="$jobs" \
        ${CTEST_PARALLEL_LEVEL:+CTEST_PARALLEL_LEVEL="$CTEST_PARALLEL_LEVEL"} \
        bash /root/src/scripts/armhf-check.sh || fail "the armhf check in the chroot"
    local check_seconds=$(($(now) - started))

    mkdir -p "$root/out/packages"
    rm -f "$root"/out/packages/checkmode_*_armhf.deb
    local deb
    for deb in "$src"/out/packages/checkmode_*_armhf.deb; do
        [ -f "$deb" ] || fail "the chroot made no checkmode_*_armhf.deb"
        cp "$deb" "$root/out/packages/"
        say "package: $root/out/packages/${deb##*/}"
    done
    say "chroot times: debootstrap $chroot_debootstrap_seconds s, packages $apt_seconds s," \
        "build, suite and package $check_seconds s; in all $(($(now) - total_started)) s"
    exit 0
}

# What the chroot needs beyond the armhf packages: the native build of the
# simulator, scripts/package.sh (dpkg-dev, lintian) and the suite's own
# tools (systemd-analyze, the forms' font).
chroot_packages=(build-essential cmake pkg-config qtbase5-dev qtbase5-dev-tools libqt5test5
    libfuse3-dev fuse3 libseccomp-dev nlohmann-json3-dev dpkg-dev lintian systemd
    fonts-dejavu-core "${packages[@]}")

install_seconds=0
added_architecture=no
case ${1:-} in
--chroot)
    [ "$(id -u)" -eq 0 ] || skip "the chroot needs root (debootstrap, mount, chroot)"
    check_in_chroot
    ;;
"") ;;
*)
    echo "usage: scripts/armhf-check.sh [--chroot]" >&2
    exit 2
    ;;
esac
# The native tools (cmake, the native Qt for the simulator) first: on a fresh
# machine nothing else has installed them. In the chroot they are there.
if [ -z "$in_chroot" ]; then
    bash "$root/scripts/deps.sh" || fail "installing the native packages"
fi
install_packages

cd "$root" || fail "cd $root"
build_native_simulator

say "configuring $armhf_dir"
cmake --preset armhf -DCHECKMODE_BOARDSIM_EXECUTABLE="$boardsim" ||
    fail "configuring the armhf build"

started=$(now)
cmake --build --preset armhf -j "$jobs" || fail "building for armhf"
build_seconds=$(($(now) - started))

description=$(file -b "$armhf_dir/app/checkmode") || fail "no $armhf_dir/app/checkmode"
say "checkmode: $description"
case $description in
*ARM*EABI5*) ;;
*) fail "checkmode is not an ARM EABI5 program" ;;
esac

started=$(now)
ctest --preset armhf 2>&1 | tee "$armhf_dir/ctest.log"
suite_status=${PIPESTATUS[0]}
suite_seconds=$(($(now) - started))
# A board test that boardsim could not host is counted as skipped, and CTest
# still exits 0; that would be a check that checked nothing.
skipped=$(grep -c '\*\*\*Skipped' "$armhf_dir/ctest.log")

say "times: install ${install_seconds} s, armhf build ${build_seconds} s," \
    "suite under qemu-arm ${suite_seconds} s"
[ "$suite_status" -eq 0 ] || fail "the test suite failed under qemu-arm"
[ "$skipped" -eq 0 ] || fail "$skipped board tests were skipped: boardsim could not run here (see their output)"
say "the suite passed under qemu-arm"

started=$(now)
rm -f "$root"/out/packages/checkmode_*_armhf.deb
JOBS=$jobs bash "$root/scripts/package.sh" armhf || fail "packaging checkmode for armhf"
deb=$(find "$root/out/packages" -name 'checkmode_*_armhf.deb' -print -quit)
[ -n "$deb" ] || fail "scripts/package.sh armhf made no checkmode_*_armhf.deb"
architecture=$(dpkg-deb -f "$deb" Architecture)
[ "$architecture" = armhf ] || fail "$deb is a package for $architecture"
description=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/checkmode | file -b -)
case $description in
*ARM*EABI5*) ;;
*) fail "the packaged checkmode is not an ARM EABI5 program: $description" ;;
esac
say "package: $deb (armhf, $(dpkg-deb -f "$deb" Depends | tr -d '\n'))," \
    "made in $(($(now) - started)) s"
