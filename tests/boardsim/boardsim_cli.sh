#!/bin/sh
# boardsim from a shell: acceptance lines, options, fake tools, exit statuses, and the
# host left as it was after any way of ending. usage: boardsim_cli.sh BOARDSIM [CHECKMODE]
set -u
BOARDSIM=$1
CHECKMODE=${2:-}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# This machine must host boardsim at all, else the whole test is skipped (77).
"$BOARDSIM" -- true || exit $(($? == 77 ? 77 : 1))

# No boardsim mount may reach the host's mount table; the simulated paths look as before.
host_state() { grep -c boardsim /proc/mounts; ls -d /sys/class/gpio /dev/input /run/media /run/boardsim 2>&1; }
host_state >"$WORK/host.before"
host_unchanged() { host_state | cmp -s "$WORK/host.before" - || fail "$1: host changed: $(host_state)"; }
# The namespaces a session lives in (inode numbers, one a line): the command's PID and
# mount namespaces as it wrote them to $WORK/ns, and boardsim's mount namespace.
# Processes still in any of them, from the host's /proc. Zombies have left their mount
# namespace already; one whose new parent does not reap it is no process of ours.
left_in_session() {
    stat -L -c '%i %n' /proc/[0-9]*/ns/pid /proc/[0-9]*/ns/mnt 2>/dev/null |
        awk 'NR == FNR { want[$1]; next } $1 in want { sub("/ns/.*", "", $2); print $2 }' "$WORK/ns" - |
        sort -u | while read -r p; do grep -qs '^State:.Z' "$p/status" || echo "$p"; done | wc -l
}
all_gone() {
    i=0
    while [ "$(left_in_session)" -gt 0 ] && [ $((i += 1)) -lt 20 ]; do sleep 0.05; done
    [ "$(left_in_session)" -eq 0 ] || fail "$1: $(left_in_session) processes of the session left after 1 s"
    host_unchanged "$1"
}

# Whatever the caller's umask, the board's modes hold (the control socket's, above all).
umask 000
# Fields split at '@': name, boardsim options, command (sh -c; empty: boardsim gets
# only the options), expected status, stdout (lines joined by spaces; empty: not
# checked), a part of stderr (empty: not checked).
while IFS='@' read -r name options command want_status want_out want_err; do
    # shellcheck disable=SC2086
    set -- $options
    [ -z "$command" ] || set -- "$@" -- sh -c "$command"
    timeout -k 5 30 "$BOARDSIM" "$@" </dev/null >"$WORK/out" 2>"$WORK/err"
    status=$?
    out=$(tr '\n' ' ' <"$WORK/out" | sed 's/ *$//; s/^ *//')
    [ "$status" -eq "$want_status" ] || fail "$name: status $status, want $want_status ($(cat "$WORK/err"))"
    [ -z "$want_out" ] || [ "$out" = "$want_out" ] || fail "$name: printed '$out', want '$want_out'"
    [ -z "$want_err" ] || grep -q -- "$want_err" "$WORK/err" || fail "$name: stderr lacks '$want_err': $(cat "$WORK/err")"
    host_unchanged "$name"
done <<'CASES'
pre-exported lines, low outputs as the board's init scripts leave them@@cd /sys/class/gpio; cat gpio128/direction gpio128/value gpio129/direction gpio129/value@0@out 0 out 0@
a native reader gets 24-byte records@@(sleep 0.3; boardsim-ctl turn 1) & dd if=/dev/input/event0 of=/dev/null bs=4096 count=1 2>&1 | grep -o '^[0-9]* bytes'@0@48 bytes@
control reads gpio state@@echo 54 > /sys/class/gpio/export; echo high > /sys/class/gpio/gpio54/direction; boardsim-ctl gpio 54@0@out 1@
control reports the position@--position 12@boardsim-ctl turn -2; boardsim-ctl position@0@10@
position wraps as the kernel's s32@--position 2147483646@boardsim-ctl turn 3; boardsim-ctl position; boardsim-ctl turn -3; boardsim-ctl position@0@-2147483647 2147483646@
control rejects junk@@boardsim-ctl turn left@1@@usage: turn N
board facts for scripts, against the described ones@@boardsim-ctl facts | grep -e ^panel_keys= -e ^danger_lamp_line= -e ^flash_identification=@0@panel_keys=F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 0 1 2 3 4 5 6 7 8 9 . Left Right Escape Enter Home Memory Auto System Start Stop danger_lamp_line=132 flash_identification=Identification: 0xc22015@
evtest sees the keypad's 32 keys@@timeout 1 evtest /dev/input/event1 2>&1 | grep -c '^    Event code'@0@32@
control refuses keys the panel lacks@@boardsim-ctl key tap F11; echo $?; boardsim-ctl key hold F1; echo $?@0@1 1@the panel has no key 'F11'
control refuses unknown commands@@boardsim-ctl frobnicate; echo $?; boardsim-ctl turn; echo $?@0@2 2@unknown command 'frobnicate'
control refuses unknown options@@boardsim-ctl --frobnicate; echo $?; boardsim-ctl -- turn -1; echo $?@0@2 0@unknown option '--frobnicate'
transcript has every call@@printf 18 >/sys/class/gpio/export; iocboot -f >/dev/null; boardsim-ctl transcript | sed "s/\"t\": [0-9.]*, \"pid\": $$/sh/; s/\"t\": [0-9.]*, \"pid\": [0-9]*/child/"@0@{sh, "op": "open", "path": "/sys/class/gpio/export", "flags": "O_WRONLY|O_TRUNC", "result": 0} {sh, "op": "close", "path": "/sys/class/gpio/export", "result": 0} {sh, "op": "write", "path": "/sys/class/gpio/export", "bytes": "18", "result": 2} {sh, "op": "close", "path": "/sys/class/gpio/export", "result": 0} {child, "op": "exec", "path": "iocboot", "args": ["-f"]}@
transcript keeps every byte@@printf '\377"\\' >/sys/class/gpio/export; boardsim-ctl transcript | grep -o '"bytes": "[^ ]*"'@0@"bytes": "\u00ff\"\\"@
bad tool arguments@@for c in 'flash rdid' 'flash -o erase' usbswitch 'iocboot -i -f'; do $c; echo $?; done@0@2 2 2 2@
control replies on one line whatever it quotes@@python3 -c "import os, socket; s = socket.socket(socket.AF_UNIX); s.connect(os.environ['BOARDSIM_CONTROL']); s.sendall(b'get a%0Ab\nping\n'); s.shutdown(socket.SHUT_WR); print(b''.join(iter(lambda: s.recv(999), b'')).decode())"@0@error unknown scenario key 'a?b' ok boardsim@
control rejects bad scenarios@@for s in ioc=nowhere tool.flash=broken tool.dd=ok ioc-delay-ms=-1 tool-delay-ms=soon; do boardsim-ctl set $s; echo $?; done@0@1 1 1 1 1@unknown scenario key 'tool.dd'
flash good@@{ flash -o rdid; echo "exit $?"; } | sed -n l@0@Identification: 0xc22015$ exit 0$@
flash case@--set flash=case@{ flash -o rdid; echo "exit $?"; } | sed -n l@0@identification: 0xC22015$ exit 0$@
flash banner@--set flash=banner@{ flash -o rdid; echo "exit $?"; } | sed -n l@0@Flash utility 2.1$ Identification: 0xc22015$ exit 0$@
flash empty@--set flash=empty@{ flash -o rdid; echo "exit $?"; } | sed -n l@0@$ exit 0$@
flash missing, then good@--set flash=missing@flash -o rdid; echo $?; boardsim-ctl set flash=good; boardsim-ctl get tool.flash; flash -o rdid@0@127 ok Identification: 0xc22015@flash: not found
flash silent@--set flash=silent@{ flash -o rdid; echo "exit $?"; } | sed -n l@0@exit 0$@no answer
flash chatter@--set flash=chatter@flash -o rdid | head -n 2 | sed -n l@0@Identification: 0xc22015$ Identification: 0xc22015$@
flash in pieces@--set flash=pieces@{ flash -o rdid; echo "exit $?"; } | { dd bs=99 count=1 2>/dev/null; printf '|'; cat; } | sed -n l@0@Identification: 0x|c22015$ exit 0$@
tool slow@--set tool.usbswitch=slow --set tool-delay-ms=300@s=$(date +%s%N); usbswitch -i >/dev/null; echo $? $(( ($(date +%s%N) - s) / 1000000 >= 300 ))@0@0 1@
tool fails@--set tool.usbswitch=fail@usbswitch -i; echo $?; boardsim-ctl state | grep -o '"switched": [a-z]*'@0@1 "switched": false@does not respond
tool missing@--set tool.usbswitch=missing@usbswitch -i; echo $?@0@127@not found
tool hangs@--set tool.iocboot=hang@timeout 0.5 iocboot -i; echo $?; boardsim-ctl state | grep -o '"booted": [a-z]*'@0@124 "booted": false@
no export file@--no-gpio-export@ls /sys/class/gpio@0@gpio128 gpio129 gpiochip0 unexport@
no gpio@--no-gpio@ls -A /sys/class/gpio && echo empty@0@empty@
refused lines@--refuse-export 18,49@printf 18 >/sys/class/gpio/export || /bin/echo 49 >/sys/class/gpio/export || echo 29 >/sys/class/gpio/export && ls /sys/class/gpio@0@export gpio128 gpio129 gpio29 gpiochip0 unexport@Invalid argument
no evdev@--no-evdev@ls -A /dev/input && test ! -e /dev/input/event0 && echo gone@0@event1 gone@
no run/media@--no-run-media@test ! -e /run/media && test -x /run/boardsim/bin/flash && echo ok@0@ok@
no pidfd@--no-pidfd@kill -0 -1 2>/dev/null; echo $?; python3 -c 'import os; os.waitid(3, 99, os.WEXITED)'@1@1@Invalid argument
modes as on the board@@stat -c %a $BOARDSIM_CONTROL; for c in 'echo 18 >/sys/class/gpio/export' 'exec 3<>/dev/input/event0'; do setpriv --reuid=65534 --regid=65534 --clear-groups sh -c "$c" 2>&1 | grep -o 'Permission denied'; done@0@600 Permission denied Permission denied@
transcript file unwritable@--transcript /dev/full@cat /sys/class/gpio/gpio128/value; sleep 5@74@@cannot write the transcript to /dev/full
exit status passes through@@exit 3@3@@
killed by SIGKILL@@kill -KILL $$@137@@
killed by SIGTERM@@kill -TERM $$@143@@
no command at all@--no-gpio@@2@@no command given
command cannot be run@-- /no/such/command@@127@@cannot run the command
unknown option@--frobnicate@true@2@@unknown option
option without its value@--position@@2@@--position needs a value
bad option value@--refuse-export 18,x@true@2@@not a line number: 'x'
bad scenario@--set ioc=nowhere@true@2@@invalid value
CASES

# Whatever ends boardsim, within a second no process of the session remains, and so no
# mount of it. Fields split at '@': name, boardsim options, command (its namespaces are
# recorded first), how boardsim ends (exit: the command returns; kill: SIGKILL meanwhile).
[ -n "${CHECKMODE:-}" ] || echo "no check mode given: the board session row is left out" >&2
mkdir -m 700 "$WORK/runtime"
while IFS='@' read -r name options command ending; do
    [ -n "${CHECKMODE:-}" ] || [ "${command#*CHECKMODE}" = "$command" ] || continue
    rm -f "$WORK/ns" "$WORK/ns.new"
    # shellcheck disable=SC2086
    env -u DISPLAY QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$WORK/runtime" ROOT="$ROOT" CHECKMODE="$CHECKMODE" \
        "$BOARDSIM" $options -- sh -c "stat -L -c %i /proc/self/ns/pid /proc/self/ns/mnt >$WORK/ns.new
            mv $WORK/ns.new $WORK/ns; $command" >"$WORK/out" 2>&1 &
    board=$!
    i=0
    while [ ! -s "$WORK/ns" ] && [ $((i += 1)) -lt 100 ]; do sleep 0.05; done
    stat -L -c %i "/proc/$board/ns/mnt" >>"$WORK/ns"
    if [ "$ending" = kill ]; then
        sleep 0.5 # the session gets going: the init, the command and what it started
        [ "$(left_in_session)" -ge 3 ] || fail "$name: the session did not start: $(cat "$WORK/out")"
        kill -KILL $board
    fi
    wait $board
    all_gone "$name"
done <<'SESSIONS'
left-behind processes@--set tool.iocboot=hang@iocboot -i & cat /dev/input/event0 >/dev/null 2>&1 & sleep 0.3@exit
boardsim killed in a test@--set tool.iocboot=hang@iocboot -i & cat /dev/input/event0 >/dev/null 2>&1 & exec sleep 30@kill
boardsim killed in the board session of scripts/run.sh@@exec bash $ROOT/scripts/on-board.sh "$CHECKMODE"@kill
SESSIONS

# Without FUSE (nobody may not open /dev/fuse here) boardsim says why and exits 77,
# which CTest reports as a skip, never a pass.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && [ "$(stat -c %a /dev/fuse)" = 600 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups "$BOARDSIM" -- true 2>"$WORK/err"
    status=$?
    if [ $status -ne 126 ]; then # 126: the build directory is not reachable for nobody
        [ $status -eq 77 ] || fail "no FUSE: status $status, want 77"
        grep -q '^boardsim: cannot ' "$WORK/err" || fail "no FUSE: no reason given: $(cat "$WORK/err")"
    fi
fi

# Without /proc (a fresh chroot) boardsim names what is missing, not a tool it cannot find.
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null; then
    unshare -m sh -c "umount -l /proc && exec \"$BOARDSIM\" -- true" 2>"$WORK/err"
    status=$?
    # In a sanitizer build LeakSanitizer's own last check needs /proc too, and fails with 1.
    ! grep -q 'LeakSanitizer has encountered a fatal error' "$WORK/err" || status=77
    [ $status -eq 77 ] || fail "no /proc: status $status, want 77"
    grep -q '^boardsim: /proc is not mounted' "$WORK/err" || fail "no /proc: $(cat "$WORK/err")"
fi

[ "$failures" -eq 0 ] && echo "all boardsim command-line cases passed"
