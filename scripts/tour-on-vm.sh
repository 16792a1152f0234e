# shellcheck shell=bash
# How scripts/board-tour.sh reaches the virtual board of scripts/vm.sh, booted:
# systemd runs the check mode, its log is the unit's journal, and QEMU's
# screendump photographs the screen (lossless, in the screen's colours).
# Variables come from and go to board-tour.sh, which sources this file.
# shellcheck disable=SC2034,SC2154
board_name="the virtual board"
shot_type=png
# From QEMU's start to the first frame takes one to two minutes under
# emulation on a busy host.
first_frame_s=300

vm() { bash "$here/vm.sh" "$@"; }
board_start() { :; }
# The caller powers the machine off.
board_end() { :; }
board_running() { :; }
board_log() { vm guest 'journalctl -b -o cat -u checkmode.service' >"$log"; }
shot() { vm shot "$out/$1.png"; }
