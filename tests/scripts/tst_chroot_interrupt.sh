#!/usr/bin/env bash
# Interrupts the chroot part of scripts/armhf-check.sh at each of its steps
# and checks that it leaves no mount under the chroot's directory. The mounts
# and their undoing are the real ones; debootstrap and the steps inside the
# chroot are a stand-in (CHECKMODE_CHROOT_STANDIN) that says which step it
# has reached and then waits, so that a row takes a second, not an hour.
#   tst_chroot_interrupt.sh SOURCE_DIR WORK_DIR
set -uo pipefail
src=$1
work=$2

[ "$(id -u)" -eq 0 ] || { echo "SKIP: mounting needs root"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
probe=$work/probe
mkdir -p "$probe"
if ! mount -t tmpfs tmpfs "$probe" 2>/dev/null; then
    echo "SKIP: this machine allows no mounts here"
    exit 77
fi
umount "$probe"

chroot=$work/chroot
standin=$work/standin.sh
# STANDIN_AT names the step to stop in (wait until killed), STANDIN_FAIL the
# one to fail. An interrupted debootstrap leaves its /proc mounted, as the
# real one does when it is killed in its second stage.
cat >"$standin" <<'STANDIN'
#!/usr/bin/env bash
step=$1
if [ "$step" = debootstrap ]; then
    mkdir -p "$2/proc" "$2/sys" "$2/dev" "$2/etc/apt" "$2/root"
    [ "$STANDIN_AT" != debootstrap ] || mount -t tmpfs debootstrap-proc "$2/proc"
fi
echo $$ >"$STANDIN_STATE.pid"
echo "$step" >>"$STANDIN_STATE"
[ "$step" != "${STANDIN_FAIL:-}" ] || exit 1
[ "$step" != "$STANDIN_AT" ] || exec sleep 600
exit 0
STANDIN
chmod +x "$standin"

failures=0
fail() {
    echo "FAIL: $row: $*"
    sed 's/^/    | /' "$work/log"
    failures=$((failures + 1))
}

mounts_below() {
    awk -v d="$chroot" '$2 == d || index($2, d "/") == 1 { print $2 }' /proc/mounts
}

# Starts the check; it runs in a process group of its own (job control), as
# from a terminal, since an asynchronous command of a script ignores SIGINT.
start() { # STOP_AT FAIL_AT
    rm -f "$work/state" "$work/state.pid"
    set -m
    STANDIN_AT=$1 STANDIN_FAIL=$2 STANDIN_STATE=$work/state ARMHF_CHROOT_DIR=$chroot \
        CHECKMODE_CHROOT_STANDIN=$standin bash "$src/scripts/armhf-check.sh" --chroot \
        >"$work/log" 2>&1 &
    pid=$!
    set +m
}

reached() { # STEP: waits until the stand-in is in it
    local i
    for ((i = 0; i < 600; i++)); do
        [ "$(tail -n 1 "$work/state" 2>/dev/null)" = "$1" ] && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# Starts the check and waits until it is in STEP: the debootstrap rows from
# nothing, the others from a complete chroot.
start_in() { # STEP
    [ "$1" != debootstrap ] || rm -rf --one-file-system "$chroot"
    start "$1" ""
    reached "$1" || { fail "the check never reached $1"; return 1; }
}

nothing_mounted() {
    [ -z "$(mounts_below)" ] || fail "left mounted: $(mounts_below | tr '\n' ' ')"
}

finish() { # waits for the check, at most a minute; sets status
    local i
    for ((i = 0; i < 600; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
    wait "$pid"
    status=$?
}

# step        signal  what the signal catches (each signal has its own trap,
# and each step its own mounts)
rows="
debootstrap INT   the chroot half made, debootstrap's own /proc mounted
apt         HUP   everything mounted, apt running in the chroot, the terminal gone
build       TERM  the build or the suite under qemu-arm running, as a CI time-out ends it
"
while read -r step signal _; do
    [ -n "$step" ] || continue
    row="SIG$signal during $step"
    start_in "$step" || continue
    if [ "$step" != debootstrap ]; then
        for point in "$chroot" "$chroot/proc" "$chroot/sys" "$chroot/dev"; do
            mounts_below | grep -x "$point" >/dev/null || fail "$point was not mounted before the signal"
        done
    fi
    kill "-$signal" "$pid"
    finish
    expected=$((128 + $(kill -l "$signal")))
    [ "$status" = "$expected" ] || fail "exit status $status, not $expected"
    nothing_mounted
    standin_pid=$(cat "$work/state.pid")
    if kill -0 "$standin_pid" 2>/dev/null; then
        fail "the step's process $standin_pid outlived the check"
        kill -KILL "$standin_pid"
    fi
    [ "$(tail -n 1 "$work/state")" = "$step" ] || fail "steps after $step ran: $(tr '\n' ' ' <"$work/state")"
done <<<"$rows"

# SIGKILL cannot be caught: the mounts stay, and the next run takes them away
# before anything else, also those of a killed debootstrap, whose half-made
# chroot it then makes again. That run's apt fails: a failing step unmounts too.
for step in build debootstrap; do
    row="SIGKILL during $step, then another run"
    start_in "$step" || continue
    kill -KILL "$pid"
    finish 2>/dev/null
    kill -KILL "$(cat "$work/state.pid")" 2>/dev/null
    [ -n "$(mounts_below)" ] || fail "nothing was mounted when the check was killed"
    start "" apt
    finish
    [ "$status" = 1 ] || fail "the next run's exit status $status, not 1"
    nothing_mounted
    grep -q 'mounts that an interrupted run left' "$work/log" ||
        fail "the next run did not say that it unmounted what was left"
    if [ "$step" = debootstrap ]; then
        grep -qx debootstrap "$work/state" || fail "the next run did not make the chroot again"
    fi
done

rm -rf --one-file-system "$work"
[ "$failures" -eq 0 ] && echo "PASS: no mount left behind"
[ "$failures" -eq 0 ]
