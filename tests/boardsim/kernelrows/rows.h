#pragma once

#include "gpiolines.h"

// The rows of the evdev node and the sysfs GPIO files that hold on every target: boardsim's
// FUSE files and a real kernel alike. Each is named after the kernel function it mirrors.
//
// A row is a script of steps ("; "-separated); steps that ask the node something print a
// word, and the row lists the words the kernel answers. Sizes count records of the task's
// ABI: "R" is one record (24 bytes, 16 for a 32-bit task), "2R" two, "R-1" a byte less;
// counts print the same way, so that one row holds for both record layouts.
//   open [nb]              the node read-write, O_NONBLOCK with nb; prints only an errno
//   read SIZE | events SIZE  read SIZE bytes: the count, or the records as X=v (ABS_X), SYN,
//                          DROP (SYN_DROPPED) or type:code=value
//   write T C V [SIZE]     one record;  poll  revents at once;  close
//   nb on|off              O_NONBLOCK by fcntl(F_SETFL)
//   ioctl NAME [ARG]       result:answer for VERSION, ID (bus:vendor:product:version),
//                          NAME [SIZE] (the device's own name prints as "name"), PHYS,
//                          BIT TYPE (its size in longs, "L"), ABS AXIS (value, minimum,
//                          maximum, fuzz, flat, resolution), REP, GRAB 1|0, CLOCK ID
//                          (EVIOCSCLOCKID), or a bare request number
//   bg read SIZE | bg poll  start it in a thread (blocking, 5 s at most); prints "early" if
//                          it did not block for 200 ms;  join  its result;  signal  SIGUSR1
//   turn N, to P, gone on|off   the target moves or unplugs the device
//   put FILE DATA, cat FILE, ls [DIR], create FILE   sysfs GPIO files, as QFile uses them;
//                          ls leaves out other lines than the rows' own and the driver
//                          core's entries of every device (device, power, subsystem, uevent),
//                          lsall only the other lines;  kind PATH  link, dir or file (lstat)
// A step acts on the latest descriptor; read#0 (etc.) on the first one opened.

struct Row
{
    const char *name;
    const char *script;
    // What the kernel answers.
    const char *expected;
    // Where FUSE itself stands between a program and the answer: what boardsim's node
    // answers instead, and why it cannot do better. Null: the same as the kernel.
    const char *throughFuse = nullptr;
    const char *fuseLimit = nullptr;
};

// The rows' GPIO lines, 150 to 159: the check mode uses none of them, so that the rows can
// run beside it on a board.
constexpr int firstRowLine = 150;
constexpr int rowLineCount = 10;

constexpr bool isRowLine(int line)
{
    return line >= firstRowLine && line < firstRowLine + rowLineCount;
}

constexpr bool rowLinesAreFree()
{
    for (int used : board::StartupExports) {
        if (isRowLine(used))
            return false;
    }
    for (int used : board::BoardExports) {
        if (isRowLine(used))
            return false;
    }
    return !isRowLine(board::DangerLampLine);
}
static_assert(rowLinesAreFree(), "the rows would write lines the check mode drives");

inline const Row kernelRows[] = {
    // drivers/input/evdev.c: the client's buffer and its reads.
    {"evdev_open: only what arrives after open()", "turn 5; open nb; read 4096; turn 1; read 4096",
     "EAGAIN 2R"},
    {"input_event_size: the caller's ABI decides, not its buffer",
     "open nb; turn 1; read R+8; read 4096", "1R 1R"},
    {"evdev_read: a buffer below one record is EINVAL", "open nb; turn 1; read R-1; read 1",
     "EINVAL EINVAL"},
    {"evdev_read: a read of 0 takes nothing, and says EAGAIN while nothing is queued",
     "open nb; read 0; turn 1; read 0; read 2R", "EAGAIN 0 2R", "0 0 2R",
     "FUSE answers a read of 0 bytes itself (fuse_direct_io), evdev_read never sees it"},
    {"evdev_read: whole records only, the rest stays queued", "open nb; to 7; events R+6; events R",
     "X=7 SYN"},
    {"input_handle_abs_change: the same position again is no event",
     "to 5; open nb; to 5; read 4096; to 6; events 4096", "EAGAIN X=6,SYN"},
    {"evdev_open: every client has its own buffer",
     "open nb; turn 40; open nb; turn 40; read#1 4096; read#0 4096", "80R 34R"},
    {"evdev_write: whole records go through the input core",
     "open nb; write 3 0 9; write 0 0 0; write 1 30 1; write 0 0 0; events 4096",
     "1R 1R 1R 1R X=9,SYN"},
    {"evdev_write: less than one record is EINVAL", "open nb; write 3 0 9 R-1", "EINVAL"},
    // Waiting: evdev_read and evdev_poll on the client's wait queue.
    {"evdev_poll: readable with a whole packet, writable while the device lives",
     "open nb; poll; turn 1; poll", "OUT IN|OUT"},
    // Cleared, a blocking read waits for a packet.
    {"evdev_read: O_NONBLOCK as the file has it now, set or cleared by fcntl",
     "open; nb on; read 4096; nb off; bg read R; turn 1; join", "EAGAIN 1R"},
    {"evdev_read: a signal ends the wait with EINTR, nothing taken",
     "open; bg read R; signal; join; turn 1; read 2R", "EINTR 2R"},
    {"evdev_poll: a waiting poll is woken by the packet", "open; bg poll; turn 1; join", "IN"},
    // Removal: evdev_disconnect marks the device dead and evdev_hangup wakes the waiters.
    {"evdev_hangup: a blocked read ends with ENODEV, poll says ERR|HUP",
     "open; bg read R; gone on; join; poll; read R; open nb", "ENODEV ERR|HUP ENODEV ENOENT"},
    {"evdev_connect: a device that comes back is a new one",
     "open nb; gone on; gone off; open nb; turn 1; read#1 2R; read#0 2R", "2R ENODEV"},
    // evdev_do_ioctl through the node: the request's size and the task's layout with it.
    {"evdev_do_ioctl: the answers, cut to the caller's buffer",
     "open nb; ioctl VERSION; ioctl NAME 8; ioctl BIT 0", "0x10001 8:name 1L:0,3"},
    {"evdev_do_ioctl: the device's id and axis, no physical path",
     "to -7; open nb; ioctl ID; ioctl ABS 0; ioctl ABS 1; ioctl PHYS",
     "19:1:1:100 -7,-2147483648,2147483647,0,0,0 0,0,0,0,0,0 ENOENT"},
    {"evdev_set_clk_type: the monotonic clock, not an unknown one",
     "open nb; ioctl CLOCK 1; ioctl CLOCK 5; turn 1; read 4096", "0 EINVAL 2R"},
    {"__pass_event: a full buffer keeps SYN_DROPPED and the newest event",
     "open nb; turn 65; events 4096", "DROP,SYN,X=65,SYN"},
    {"evdev_do_ioctl: no autorepeat is ENOSYS, an unknown request EINVAL",
     "open nb; ioctl REP; ioctl 0xee", "ENOSYS EINVAL", "ENOTTY EINVAL",
     "FUSE turns a server's ENOSYS into ENOTTY (fuse_send_ioctl)"},
    {"evdev_grab: one client has the device to itself until it lets go",
     "open nb; open nb; ioctl#0 GRAB 1; ioctl#1 GRAB 1; turn 1; read#1 2R; read#0 2R; "
     "ioctl#1 GRAB 0; ioctl#0 GRAB 0; turn 1; read#1 2R",
     "0 EBUSY EAGAIN 2R EINVAL 0 2R"},
    {"evdev_release: closing the grabbing file lets go",
     "open nb; open nb; ioctl#0 GRAB 1; close#0; ioctl#1 GRAB 1; ioctl#1 GRAB 0", "0 0 0"},
    {"evdev_ioctl_handler, evdev_write: a removed device is ENODEV",
     "open nb; gone on; ioctl VERSION; write 3 0 1", "ENODEV ENODEV"},
    // drivers/gpio/gpiolib-sysfs.c.
    {"gpio_class_attrs: export and unexport are write-only, nothing else is there",
     "cat export; cat unexport; create gpio300; ls",
     "EACCES EACCES EACCES export,gpiochip0,unexport"},
    {"gpiochip_sysfs_register: the chip's base, read-only",
     "cat gpiochip0/base; put gpiochip0/base 5; ls gpiochip0", "0\\n EACCES base,label,ngpio"},
    {"export_store: a line exports once, its files at once, an input reading 0",
     "put export 150; ls gpio150; cat gpio150/direction; cat gpio150/value; put export 150",
     "3 active_low,direction,value in\\n 0\\n EBUSY"},
    {"device_add: a line's and a chip's directory are the class's links to their devices, "
     "with the driver core's entries",
     "put export 156; kind gpio156; kind gpiochip0; kind gpio156/value; lsall gpio156",
     "3 link link file active_low,device,direction,power,subsystem,uevent,value",
     "3 dir dir file active_low,direction,value",
     "boardsim mounts /sys/class/gpio alone: the device tree under /sys/devices that the "
     "class's links and a device's device and subsystem links lead into is not there"},
    {"unexport_store: only an exported line, and its directory goes",
     "put export 151; put unexport 151; put unexport 151; ls gpio151; ls",
     "3 3 EINVAL ENOENT export,gpiochip0,unexport"},
    {"value_store: through the line's files",
     "put export 152; put gpio152/direction out; put gpio152/value 1; cat gpio152/value",
     "3 3 1 1\\n"},
    {"value_store, direction_store: an input refuses any value, a direction only its words",
     "put export 155; put gpio155/value 1; put gpio155/value junk; put gpio155/direction OUT; "
     "cat gpio155/direction",
     "3 EPERM EPERM EINVAL in\\n"},
    {"active_low_store: value reads and writes inverted, direction sets the level itself",
     "put export 153; cat gpio153/active_low; put gpio153/direction out; "
     "put gpio153/active_low 1; cat gpio153/value; put gpio153/value 1; "
     "put gpio153/active_low 0; cat gpio153/value; put gpio153/active_low 1; "
     "put gpio153/direction high; cat gpio153/value",
     "3 0\\n 3 1 1\\n 1 1 0\\n 1 4 0\\n"},
    {"active_low_store: any number kstrtol takes; a line exports active high again",
     "put export 154; put gpio154/active_low 0x2; cat gpio154/active_low; "
     "put gpio154/active_low on; put unexport 154; put export 154; cat gpio154/active_low",
     "3 3 1\\n EINVAL 3 3 0\\n"},
};
