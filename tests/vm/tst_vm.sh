#!/usr/bin/env bash
# The check mode on Debian's own kernel and systemd: the virtual board of
# scripts/vm.sh boots our package, and keys and turns reach it only through
# the guest's uinput keypad and encoder, driven by boardsim-ctl over the
# agent's control socket. The screen comes from QEMU's screendump.
#   tst_vm.sh SOURCE_DIR BOARDSIM_CTL OUTDIR [ARCH]
# ARCH armhf runs it on the 32-bit ARM board (scripts/vm.sh --arch armhf).
set -uo pipefail
src=$1 ctl=$2 out=$3 arch=${4:-amd64}
# shellcheck source=SCRIPTDIR/vmtest.sh
. "$src/tests/vm/vmtest.sh"
vm_test_setup "$out" convert cmp tesseract
export BOARDSIM_CONTROL=$work/run/control.sock

if [ -n "${CHECKMODE_VM_BOOTED:-}" ]; then
    # Booted for every `vm` test by CTest's fixture, which also powers it off.
    built=0
    booted=$(date -r "$work/run/qemu.pid" +%s%N)
else
    built=$SECONDS
    vm image >"$out/image.log" 2>&1 || { tail -n 20 "$out/image.log"; echo "FAIL: no image"; exit 1; }
    built=$((SECONDS - built))
    trap 'vm stop' EXIT
    booted=$(date +%s%N)
    vm start || { echo "FAIL: QEMU did not start"; exit 1; }
fi

# shellcheck source=SCRIPTDIR/../e2e/checks.sh
. "$src/tests/e2e/checks.sh"
g() { vm guest "$@"; }
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }
shot() { vm shot "$out/$1.png"; }
pixel_red() { convert "$out/$1.png" -format "%[fx:int(255*p{$2,$3}.r)]" info:; }
light() { [ "$(pixel_red "$1" "$2" "$3")" -gt 200 ]; }
# Pages told apart as scripts/board-tour.sh does: the soft-key bar's Home
# button, the text box or result panel at the middle left, and the first
# button at the top right.
bar_shown() { light "$1" 40 420; }
home_shown() { shot "$1" && bar_shown "$1" && light "$1" 300 250 && ! light "$1" 720 120; }
lamp_shown() { shot "$1" && bar_shown "$1" && ! light "$1" 300 250; }
ioc_shown() { shot "$1" && bar_shown "$1" && light "$1" 300 250 && light "$1" 720 120; }
bar_hidden() { shot "$1" && ! bar_shown "$1"; }
# until SECONDS COMMAND...: polls COMMAND every 200 ms
until_true() {
    local until=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt "$until" ] || return 1
        sleep 0.2
    done
}
tap() { "$ctl" key tap "$1" >/dev/null; }
journal() { g "journalctl -b -o cat -u checkmode.service"; }
counted() { journal | grep -cx 'progBar 1'; }
counted_at_least() { [ "$(counted)" -ge "$1" ]; }
# writes LINE: value writes the kernel passed to the GPIO chip for LINE
writes() { g "cut -d, -f$(($1 + 1)) /sys/module/boardgpio/parameters/writes"; }

until_true 300 home_shown 00-first-frame || { echo "FAIL: no home page within 300 s"; exit 1; }
first_frame=$(ms_since "$booted")
cp "$out/00-first-frame.png" "$out/vm-01-home.png"
check "first frame: the soft-key bar where X has it" \
    [ "$(bar_difference "$out/vm-01-home.png" "$src/docs/01-home.png")" -le 30 ]
multi_user=$(g "systemd-analyze time" | sed -n 's/.*reached after \(.*\) in userspace.*/\1/p')
# KDGETMODE (0x4B3B) on the foreground console: 0 is KD_TEXT.
console_mode() { g "perl -e 'open(T, \"<\", \"/dev/tty0\") or die; \$m = pack(\"L\", 9); ioctl(T, 0x4B3B, \$m) or die; print unpack(\"L\", \$m), \"\\n\"'"; }
# KDGKBMODE (0x4B44) of the LCD's console: 4 is K_OFF. The kernel's console
# keyboard reads the keypad too: unless it is off, Home (Scroll Lock) holds
# the console's output and a later write to it blocks the program.
keyboard_mode() { g "perl -e 'open(T, \"<\", \"/dev/tty1\") or die; \$m = pack(\"L\", 9); ioctl(T, 0x4B44, \$m) or die; print unpack(\"L\", \$m), \"\\n\"'"; }
check "the console's keyboard off while the check mode runs" [ "$(keyboard_mode)" = 4 ]
check "no getty on tty1 beside the check mode" \
    [ "$(g 'systemctl is-active getty@tty1.service')" != active ]
input_names() { g 'cat /sys/class/input/event[01]/device/name' | tr '\n' '|'; }
check "uinput encoder is event0, keypad event1" \
    [ "$(input_names)" = "vm rotary encoder|vm front-panel keypad|" ]

# The kernel rows (tests/boardsim/kernelrows) that kernel_rows runs on
# boardsim's FUSE files, here on the guest's own kernel: a uinput device of
# their own and the GPIO module's lines 150-159, beside the running check
# mode, which must not notice. Once the check mode keeps one process: its
# first start at boot can fail on a framebuffer not there yet.
main_pid() { g 'systemctl show -p ExecMainPID --value checkmode.service'; }
settled() {
    local before
    before=$(main_pid)
    sleep 5
    [ "$(main_pid)" = "$before" ]
}
until_true 120 settled
rows_pid=$(main_pid)
# shellcheck disable=SC2016 # expanded in the guest
g '/usr/local/lib/board/kernel-rows 2>&1; echo "rows exit $?"' >"$out/kernel-rows.log"
grep '^not ok\|FUSE limit\|^# ' "$out/kernel-rows.log"
check "the kernel rows pass on the guest's kernel ($(grep -c '^ok' "$out/kernel-rows.log") ok)" \
    grep -qx 'rows exit 0' "$out/kernel-rows.log"
check "the check mode ran on beside them" [ "$(main_pid)" = "$rows_pid" ]

tap F8
check "F8 opens the keyboard test" until_true 20 bar_hidden vm-02-keyboard-test
# Five steps of the encoder: the kernel's own axis, and the LCD's last digit,
# a 5 by its segments: upper left, middle and lower right lit (dark on the
# white panel), upper right and lower left not.
"$ctl" turn 5 >/dev/null
check "encoder at 5 in the kernel's evdev" [ "$("$ctl" position)" = 5 ]
segments() {
    local xy lit=""
    for xy in "704 225" "725 249" "745 272" "745 225" "704 272"; do
        # shellcheck disable=SC2086 # x and y
        if [ "$(pixel_red "$1" $xy)" -lt 100 ]; then lit+=1; else lit+=0; fi
    done
    echo "$lit"
}
shows_5() { shot "$1" && [ "$(segments "$1")" = 11100 ]; }
check "the LCD shows 5" until_true 20 shows_5 vm-03-encoder-5
panel_keys=(F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 0 1 2 3 4 5 6 7 8 9 . Left Right
    Escape Enter Home Memory Auto System Start Stop)
typed=0
for key in "${panel_keys[@]}"; do
    tap "$key"
    typed=$((typed + 1))
    until_true 20 counted_at_least $typed || break
done
shot vm-04-keyboard-all
check "31 keys counted once each (journal)" [ "$(counted)" -eq 31 ]
check "no key counted twice" [ "$(journal | grep -cx 'progBar 0')" -eq 0 ]

tap clear
tap 1
check "clear + 1 returns home" until_true 20 home_shown vm-05-home-again
exports=$(g "cd /sys/class/gpio && for n in 18 29 49 50 51 54 55 56 60 62 63 65 \
    111 112 113 114 115 116 117; do [ -d gpio\$n ] || echo \$n; done")
check "the start-up's exports all in /sys/class/gpio" [ -z "$exports" ]
tap F9
check "F9 opens the lamp page" until_true 20 lamp_shown vm-06-lamp
tap F1
lamp_on() { g "grep -q 'gpio-132 .* out hi' /sys/kernel/debug/gpio"; }
check "F1 drives line 132 high in the kernel" until_true 20 lamp_on
beeps=$(writes 128)
tap F2
sleep 2
check "F2 writes the beep line once" [ "$(writes 128)" -eq $((beeps + 1)) ]
shot vm-07-lamp-on

tap F10
check "F10 opens the IOC/FPGA page" until_true 20 ioc_shown vm-08-ioc-fpga
tap F1
# The product's debug line for one FPGA read, as qDebug quotes the text.
fpga_read() { journal | grep -xF "fpga Identification: \"$1\"" >/dev/null; }
check "F1 reads the FPGA's identification" until_true 30 fpga_read "Identification: 0xc22015"
# The verdicts as the screen shows them, read back by OCR (which may take
# the I of IOC for an l, hence only the words after it).
verdict() { # IMAGE GEOMETRY
    convert "$out/$1.png" -crop "$2" +repage -colorspace gray -scale 300% "$out/ocr.png" &&
        tesseract "$out/ocr.png" - --psm 7 2>/dev/null
}
# The tools' calls since the last clear-transcript, "tool args" joined by commas.
calls() { "$ctl" transcript | sed 's/.*"path":"\([^"]*\)","args":\["\([^"]*\)"\].*/\1 \2/' | paste -sd,; }
switch_over="usbswitch -i,iocboot -i,iocboot -f,usbswitch -f"
ioc_done() { calls | grep "usbswitch -f" >/dev/null; }
# The labels change once the last tool has returned to the GUI thread.
ioc_verdict_shown() { # IMAGE WORD
    shot "$1" && grep -qE "Check $2!" <(verdict "$1" 300x26+36+289)
}
"$ctl" clear-transcript >/dev/null
tap F2
check "F2 runs the IOC check to its end" until_true 60 ioc_done
until_true 30 ioc_verdict_shown vm-09-ioc-fpga-verdicts "(Suceccs|FAIL)"
check "the check's four tool calls in the transcript, in order" [ "$(calls)" = "$switch_over" ]
check "and in the journal" [ "$(g "journalctl -b -o cat -t board-tool" |
    grep -E '^(usbswitch|iocboot) ' | tail -n 4 | paste -sd,)" = "$switch_over" ]
# usbswitch -i returns once the automounter has mounted the disk: the
# program's five seconds then count from a switch-over that has settled,
# however slow the emulation.
check "the IOC's disk mounted from USB at /run/media/sda1" \
    g "journalctl -b -o cat | grep 'Mounted run-media-sda1.mount' >/dev/null"
# From the call of usbswitch -i (tool log) to the mount (journal), both in
# ms since boot: reported only.
switched=$(g "awk -F'\t' '\$3 == \"usbswitch\" && \$4 == \"-i\" { t = \$1 } END { print t }' /run/board/tools.log")
mounted=$(g "journalctl -b -o short-monotonic | sed -n 's/^\[ *\([0-9.]*\)\].*Mounted run-media-sda1.mount.*/\1/p' | tail -n 1")
settle_ms=$(awk -v s="${switched:-0}" -v m="${mounted:-0}" 'BEGIN { printf "%d", m * 1000 - s }')
gone() { g "[ ! -e /sys/block/sda ]"; }
check "the USB disk gone after usbswitch -f" until_true 20 gone
check "FPGA verdict on the screen" \
    grep -q "FPGA Check Success!" <(verdict vm-09-ioc-fpga-verdicts 300x26+36+166)
check "IOC verdict on the screen" \
    grep -q "Check Suceccs!" <(verdict vm-09-ioc-fpga-verdicts 300x26+36+289)
# The flash tool's answers by the scenario, read by the product from a real pipe.
while read -r answer text; do
    "$ctl" set "flash=$answer" >/dev/null && tap F1
    check "flash=$answer answers '$text'" until_true 30 fpga_read "$text"
done <<'ROWS'
case identification: 0xC22015
banner Flash utility 2.1\nIdentification: 0xc22015
empty
ROWS
"$ctl" set flash=good >/dev/null
# An IOC that comes later than the program's five seconds: FAIL, and the
# switch back cancels the bind still to come.
"$ctl" set ioc=late >/dev/null && "$ctl" set ioc-delay-ms=8000 >/dev/null
"$ctl" clear-transcript >/dev/null
tap F2
until_true 60 ioc_done
check "a late IOC: IOC Check FAIL!" until_true 30 ioc_verdict_shown vm-09-ioc-late FAIL
# The forked usbswitch -i that was to bind ends once its delay is over.
late_over() { g '! grep -qx usbswitch /proc/[0-9]*/comm 2>/dev/null'; }
# shellcheck disable=SC2016 # expanded in the guest
unbound() { g '[ -z "$(cat /sys/kernel/config/usb_gadget/ioc/UDC)" ]'; }
late_unbound() { until_true 30 late_over && unbound; }
check "a late IOC switched back in time is never bound" late_unbound
"$ctl" set ioc=present >/dev/null && "$ctl" set ioc-delay-ms=1000 >/dev/null

# systemd: a stop right after the FPGA and IOC checks ends the program by
# SIGTERM, at once and cleanly; Restart=always brings the home page back after
# SIGKILL and SIGSEGV in about RestartSec (1 s) plus one start, measured here
# by a plain start.
unit_is() { g "systemctl show -P $1 checkmode.service"; }
# shellcheck disable=SC2016 # expanded in the guest
stopped=$(g 'a=$(date +%s%N); systemctl stop checkmode.service; echo $((($(date +%s%N) - a) / 1000000))')
check "systemctl stop ends it by SIGTERM, not by the time-out" \
    [ -z "$(g 'journalctl -b -o cat -u checkmode.service | grep -i "timed out"')" ]
check "it exited with status 0 (code $(unit_is ExecMainCode), status $(unit_is ExecMainStatus))" \
    [ "$(unit_is ExecMainCode)/$(unit_is ExecMainStatus)/$(unit_is Result)" = 1/0/success ]
check "the console back in text mode" [ "$(console_mode)" = 0 ]
check "and its keyboard back on" [ "$(keyboard_mode)" != 4 ]
check "no core dump" [ -z "$(g 'journalctl -b -o cat | grep -i "dumped core"')" ]
home_after() { # NAME COMMAND: ms from COMMAND to the home page
    local t0
    t0=$(date +%s%N)
    g "$2"
    until_true 60 home_shown "$1" || return 1
    ms_since "$t0"
}
start_ms=$(home_after vm-10-started "systemctl start checkmode.service")
check "the stop took no longer than a start ($stopped ms, start $start_ms ms)" \
    [ "$stopped" -le "${start_ms:-0}" ]
# Text as wide as X draws it: the version label (the application's default
# font), the title (20 points) and the Home key's caption.
ink_width() { convert "$1" -crop "$2" +repage -colorspace gray -threshold 50% -trim -format %w info:; }
widths_as_under_x() {
    local geometry a b d status=0
    for geometry in 260x20+520+0 420x40+20+85 120x40+14+420; do
        a=$(ink_width "$out/vm-10-started.png" $geometry)
        b=$(ink_width "$src/docs/01-home.png" $geometry)
        d=$((a - b))
        if [ "${d#-}" -gt 2 ]; then
            echo "  $geometry: $a pixels wide, $b under X"
            status=1
        fi
    done
    return $status
}
check "text as wide as under X" widths_as_under_x
restarted_after() { # NAME SIGNAL: ms from SIGNAL on the lamp page to the home page
    local restarts ms
    restarts=$(unit_is NRestarts)
    tap F9
    until_true 20 lamp_shown "$1-before" || return 1
    ms=$(home_after "$1" "systemctl kill -s $2 checkmode.service") || return 1
    [ "$(unit_is NRestarts)" -eq $((restarts + 1)) ] || { echo "  not restarted after SIG$2"; return 1; }
    echo "$ms"
}
restart_ms=$(restarted_after vm-11-killed KILL)
check "home page after SIGKILL within RestartSec and two starts" \
    [ "${restart_ms:-999999}" -le $((2000 + 2 * ${start_ms:-0})) ]
segv_ms=$(restarted_after vm-12-segv SEGV)
check "home page after SIGSEGV within RestartSec and two starts" \
    [ "${segv_ms:-999999}" -le $((2000 + 2 * ${start_ms:-0})) ]
# No systemd-coredump in the image: the kernel writes a core, or not, by
# core_pattern and the unit's RLIMIT_CORE; the journal says which.
segv_code=$(g "journalctl -b -o cat -u checkmode.service | grep -o 'code=[a-z]*, status=11/SEGV' | tail -n 1")

{
    echo "The check mode on the virtual board (Debian 12 kernel and systemd under QEMU TCG)"
    echo "  image ready in: $built s (0 when cached)"
    echo "  boot to multi-user: $multi_user"
    echo "  QEMU start to first frame: $first_frame ms"
    echo "  usbswitch -i to the IOC's disk mounted: $settle_ms ms"
    echo "  systemctl stop after the FPGA and IOC checks: $stopped ms"
    echo "  systemctl start to home page: $start_ms ms"
    echo "  SIGKILL to home page again: $restart_ms ms"
    echo "  SIGSEGV to home page again: $segv_ms ms ($segv_code)"
    echo "  keys counted: $(counted) of ${#panel_keys[@]}"
} | tee "$out/report.txt"
checks_done "vm: "
