# shellcheck shell=bash
# How scripts/board-tour.sh reaches the simulated board, inside boardsim:
# it starts the check mode itself, as checkmode.service would, and
# photographs its framebuffer over Qt's vnc platform.
# Variables come from and go to board-tour.sh, which sources this file.
# shellcheck disable=SC2034,SC2154
board_name="the simulated board"
shot_type=jpg
first_frame_s=60

board_start() {
    display=$(bash "$here/free-vnc-display.sh")
    bash "$here/as-unit.sh" "$unit" "$environment_file" "$checkmode" $((5900 + display)) \
        >"$log" 2>&1 &
    app=$!
}
board_end() {
    kill -TERM "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
}
board_running() { kill -0 "$app" 2>/dev/null; }
# The program writes its debug log to $log itself.
board_log() { :; }
# By address: a fresh chroot has no /etc/hosts to name localhost. Qt 5.15's
# vnc server hands out its pixels blue first whatever layout the client asks
# for (a screen of rgb(225, 26, 26) arrives as rgb(26, 26, 225)), so red and
# blue are put back in their places; the board's linuxfb has no such step.
shot() {
    vncsnapshot -quiet -quality 95 "127.0.0.1:$display" "$out/$1.jpg" >/dev/null 2>&1 &&
        convert "$out/$1.jpg" -color-matrix "0 0 1 0 1 0 1 0 0" -quality 95 "$out/$1.jpg"
}
