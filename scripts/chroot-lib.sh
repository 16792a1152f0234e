# shellcheck shell=bash
# Sourced by the scripts that work in a fresh Debian 12 chroot
# (scripts/chroot-check.sh, scripts/armhf-check.sh): making the chroot, the
# mounts the simulated board needs inside it, and taking them away again on
# every way out, a signal included.
#
# The caller sets chroot_dir and defines say and fail, then calls
# chroot_prepare (once, before anything is mounted) and chroot_mount. The
# mounts are undone when the shell exits, whatever the cause; a run killed
# outright (SIGKILL, power) leaves them behind, and the next run's
# chroot_prepare takes them away before it touches the directory.
#
# Environment:
#   DEBIAN_MIRROR          the mirror debootstrap and apt use
#   CHECKMODE_CHROOT_STANDIN
#                          a command run on the host instead of debootstrap
#                          and of each step inside the chroot, with the step's
#                          name as its argument ("debootstrap DIR", or the
#                          name given to chroot_step): the mount and unmount
#                          code runs for real around it. For the test that
#                          interrupts these scripts.

chroot_mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
chroot_mounted=()
chroot_child=""
# Written into the chroot when debootstrap has finished: a directory without
# it is what an interrupted debootstrap left, and is made again.
chroot_marker=etc/checkmode-chroot-complete

# Mount points at or below DIR, in the order of /proc/mounts (a mount comes
# after the one it sits on). /proc/mounts writes a space in a path as \040.
chroot_mounts_below() {
    local dir=$1 point
    while read -r _ point _; do
        point=$(printf '%b' "$point")
        case $point in
        "$dir" | "$dir"/*) printf '%s\n' "$point" ;;
        esac
    done </proc/mounts
}

# Unmounts every mount at or below DIR, the last made first; a mount that is
# busy (a process still has a file open there) is detached lazily, so that
# it is gone from the tree at once and freed when the last user lets go.
chroot_unmount_below() {
    local dir=$1 point i
    local -a points
    mapfile -t points < <(chroot_mounts_below "$dir")
    for ((i = ${#points[@]} - 1; i >= 0; i--)); do
        point=${points[$i]}
        umount "$point" 2>/dev/null || umount -l "$point" ||
            printf 'chroot: could not unmount %s\n' "$point" >&2
    done
    return 0
}

# shellcheck disable=SC2317 # called by the traps
chroot_cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    if [ -n "$chroot_child" ]; then
        # Its own process group (setsid): the build, apt or the tests below it.
        kill -TERM -- "-$chroot_child" 2>/dev/null || true
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 -- "-$chroot_child" 2>/dev/null || break
            sleep 0.5
        done
        kill -KILL -- "-$chroot_child" 2>/dev/null || true
        wait "$chroot_child" 2>/dev/null || true
        chroot_child=""
    fi
    local i
    for ((i = ${#chroot_mounted[@]} - 1; i >= 0; i--)); do
        umount -R "${chroot_mounted[$i]}" 2>/dev/null ||
            umount -R -l "${chroot_mounted[$i]}" 2>/dev/null || true
    done
    chroot_mounted=()
    # Whatever else is still there: debootstrap's own /proc and /sys, when it
    # was interrupted.
    [ -z "${chroot_dir:-}" ] || chroot_unmount_below "$chroot_dir"
    exit "$status"
}

# shellcheck disable=SC2317 # called by the traps
chroot_on_signal() {
    local number
    number=$(kill -l "$1")
    say "interrupted by SIG$1: unmounting"
    exit $((128 + number))
}

# Takes the lock on the chroot, removes what a killed run left and makes the
# chroot with debootstrap unless a complete one is there. Needs root.
chroot_prepare() {
    [ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, mount, chroot)"
    trap chroot_cleanup EXIT
    trap 'chroot_on_signal INT' INT
    trap 'chroot_on_signal TERM' TERM
    trap 'chroot_on_signal HUP' HUP
    mkdir -p "$(dirname "$chroot_dir")"
    # Two runs on one chroot would unmount each other's mounts.
    exec {chroot_lock}>"$chroot_dir.lock"
    if ! flock -n "$chroot_lock"; then
        say "waiting for another run that uses $chroot_dir"
        flock "$chroot_lock"
    fi
    local stale
    stale=$(chroot_mounts_below "$chroot_dir" | grep -c . || true)
    if [ "$stale" -gt 0 ]; then
        say "unmounting $stale mounts that an interrupted run left under $chroot_dir"
        chroot_unmount_below "$chroot_dir"
        [ -z "$(chroot_mounts_below "$chroot_dir")" ] ||
            fail "mounts under $chroot_dir remain: $(chroot_mounts_below "$chroot_dir" | tr '\n' ' ')"
    fi
    if [ -f "$chroot_dir/$chroot_marker" ]; then
        return 0
    fi
    if [ -e "$chroot_dir" ]; then
        say "removing $chroot_dir, which an interrupted debootstrap left"
        # Nothing is mounted below it any more (above); --one-file-system
        # still keeps rm on this file system, should that be wrong.
        rm -rf --one-file-system "$chroot_dir" || fail "removing $chroot_dir"
    fi
    if [ -z "${CHECKMODE_CHROOT_STANDIN:-}" ] && ! command -v debootstrap >/dev/null; then
        say "installing debootstrap"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap \
            >/dev/null || fail "apt-get install debootstrap"
    fi
    local started
    started=$(date +%s)
    if [ -n "${CHECKMODE_CHROOT_STANDIN:-}" ]; then
        chroot_background "$CHECKMODE_CHROOT_STANDIN" debootstrap "$chroot_dir"
    else
        chroot_background debootstrap --variant=minbase bookworm "$chroot_dir" "$chroot_mirror" \
            >"$chroot_dir.debootstrap.log" 2>&1
    fi || {
        tail -n 20 "$chroot_dir.debootstrap.log" 2>/dev/null
        fail "debootstrap into $chroot_dir"
    }
    rm -f "$chroot_dir.debootstrap.log"
    touch "$chroot_dir/$chroot_marker"
    chroot_debootstrap_seconds=$(($(date +%s) - started))
    say "debootstrap --variant=minbase bookworm $chroot_dir: $chroot_debootstrap_seconds s"
}
chroot_debootstrap_seconds=0

# Runs a command in a process group of its own and waits for it: a signal to
# this shell then runs its trap at once (bash would hold it until a
# foreground command ends), and the trap ends the whole group.
chroot_background() {
    setsid "$@" &
    chroot_child=$!
    local status=0
    wait "$chroot_child" || status=$?
    chroot_child=""
    return "$status"
}

chroot_mount_one() { # mount ARGS... TARGET
    mount "$@" || fail "mount $*"
    chroot_mounted+=("${*: -1}")
}

# The chroot's directory bind-mounted onto itself (boardsim makes its mounts
# private, which needs / to be a mount point), /proc, and /sys and /dev
# recursively, as slaves so that unmounting them never reaches the host's.
# The self-bind is private first, so that nothing mounted below it appears
# under the host's own view of the directory.
chroot_mount() {
    chroot_mount_one --bind "$chroot_dir" "$chroot_dir"
    mount --make-private "$chroot_dir" || fail "mount --make-private $chroot_dir"
    chroot_mount_one -t proc proc "$chroot_dir/proc"
    chroot_mount_one --rbind --make-rslave /sys "$chroot_dir/sys"
    chroot_mount_one --rbind --make-rslave /dev "$chroot_dir/dev"
    cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf" 2>/dev/null || true
}

# chroot_run COMMAND... : in the chroot, with a clean environment.
chroot_environment=(/usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
    DEBIAN_FRONTEND=noninteractive)
chroot_run() {
    chroot "$chroot_dir" "${chroot_environment[@]}" "$@"
}

# chroot_step NAME COMMAND... : a long step in the chroot (or the stand-in),
# interruptible at any moment.
chroot_step() {
    local name=$1
    shift
    if [ -n "${CHECKMODE_CHROOT_STANDIN:-}" ]; then
        chroot_background "$CHECKMODE_CHROOT_STANDIN" "$name"
    else
        chroot_background chroot "$chroot_dir" "${chroot_environment[@]}" "$@"
    fi
}
