#!/usr/bin/env bash
# Installs the amd64 packages into a fresh Debian 12 chroot, runs the board
# test there from the installed paths, purges them and checks that nothing of
# them is left. As root, after scripts/package.sh:
#
#   scripts/chroot-check.sh [CHROOT_DIR]     (default /srv/chroot-checkmode)
#
# The chroot is made with `debootstrap --variant=minbase bookworm` unless it
# is there already. Its directory is bind-mounted onto itself, because boardsim
# needs / to be a mount point, and /proc, /sys and /dev are mounted into it;
# all of these are unmounted again at the end, also after a failure or a
# signal (scripts/chroot-lib.sh). The test tools (vncsnapshot,
# ImageMagick) are installed before the packages, so that they are not
# counted as the packages' dependencies nor as their leftovers.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
chroot_dir=${1:-/srv/chroot-checkmode}

say() { printf '== chroot: %s\n' "$*"; }
fail() {
    printf '== chroot: FAILED: %s\n' "$*" >&2
    exit 1
}
now() { date +%s; }
# shellcheck source=scripts/chroot-lib.sh
source "$root/scripts/chroot-lib.sh"
mirror=$chroot_mirror
run() { chroot_run "$@"; }

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, mount, chroot)"
version=$(sed -n 's/^project(checkmode VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
debs=("$root/out/packages/checkmode_${version}_$arch.deb"
    "$root/out/packages/checkmode-boardsim_${version}_$arch.deb")
for deb in "${debs[@]}"; do
    [ -f "$deb" ] || fail "no $deb: run scripts/package.sh first"
done
chroot_prepare
chroot_mount

started=$(now)
run apt-get update -q >/dev/null
run apt-get install -y -q --no-install-recommends vncsnapshot imagemagick >/dev/null
say "test tools installed: $(($(now) - started)) s"

# What the chroot holds before the packages, to compare after the purge.
tree() {
    run find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp \
        -o -path /var/cache -o -path /var/lib/apt/lists -o -path /var/log \
        -o -path /root \) -prune -o -print | sort
}
if run dpkg-query -W checkmode checkmode-boardsim >/dev/null 2>&1; then
    fail "$chroot_dir holds the packages already: start from a fresh chroot"
fi
tree >"$chroot_dir/tmp/before.txt"
run dpkg-query -W -f '${Package}\n' | sort >"$chroot_dir/tmp/packages-before.txt"

mkdir -p "$chroot_dir/tmp/debs"
cp "${debs[@]}" "$chroot_dir/tmp/debs/"
started=$(now)
install_log=$(run apt-get install -y --no-install-recommends \
    "/tmp/debs/${debs[0]##*/}" "/tmp/debs/${debs[1]##*/}" 2>&1) || {
    printf '%s\n' "$install_log"
    fail "apt-get install"
}
say "apt-get install ./checkmode_${version}_$arch.deb ./checkmode-boardsim_${version}_$arch.deb:" \
    "$(($(now) - started)) s, $(grep -c '^Setting up ' <<<"$install_log") packages set up"
# Every package apt fetched came from Debian's archive.
fetched=$(grep -E '^Get:' <<<"$install_log" | grep -v ' /tmp/debs/' || true)
foreign=$(grep -vE "^Get:[0-9]+ ${mirror//./\\.} " <<<"$fetched" | grep . || true)
[ -z "$foreign" ] || fail "fetched from elsewhere than $mirror: $foreign"
say "fetched $(grep -c . <<<"$fetched") packages, all from $mirror"

# The board test with the installed programs, unit and environment file; the
# test's own scripts come from this source tree.
rm -rf "$chroot_dir/tmp/src"
mkdir -p "$chroot_dir/tmp/src"
cp -r "$root/scripts" "$root/tests" "$root/docs" "$chroot_dir/tmp/src/"
started=$(now)
run bash /tmp/src/tests/e2e/tst_board.sh /tmp/src /usr/bin/boardsim /usr/bin/checkmode \
    /lib/systemd/system/checkmode.service /etc/default/checkmode /tmp/board ||
    fail "the board test with the installed programs"
say "board test from the installed paths: $(($(now) - started)) s"
rm -rf "$chroot_dir/tmp/src" "$chroot_dir/tmp/board"

started=$(now)
# Recommends do not keep a package: the test tools' libraries recommend some
# that only the packages' dependencies brought in (shared-mime-info).
run apt-get purge -y -q --autoremove -o APT::AutoRemove::RecommendsImportant=false \
    checkmode checkmode-boardsim >/dev/null ||
    fail "apt-get purge"
say "apt-get purge --autoremove checkmode checkmode-boardsim: $(($(now) - started)) s"
tree >"$chroot_dir/tmp/after.txt"
run dpkg-query -W -f '${Package}\n' | sort >"$chroot_dir/tmp/packages-after.txt"
rm -rf "$chroot_dir/tmp/debs"
status=0
if ! diff "$chroot_dir/tmp/packages-before.txt" "$chroot_dir/tmp/packages-after.txt"; then
    say "packages differ after the purge (above)"
    status=1
fi
if ! diff "$chroot_dir/tmp/before.txt" "$chroot_dir/tmp/after.txt"; then
    say "files left behind or gone after the purge (above)"
    status=1
fi
[ $status -eq 0 ] && say "the purge left nothing behind"
exit $status
