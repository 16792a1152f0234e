#pragma once

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

const Row *kernelRows(int *count);
