#pragma once

#include <string>

class EvdevClient;
struct EvdevDevice;

// One ioctl's answer: the result (-errno on failure) and the bytes that go
// back to the caller's buffer.
struct EvdevIoctlAnswer
{
    int result = 0;
    std::string bytes;
};

// evdev_do_ioctl() for one open file of `device`: `in` holds what FUSE copied
// from the caller (the request's size for _IOW requests); `compat` lays bit
// masks out in 32-bit longs, as for a 32-bit caller. FUSE delivers only
// requests whose argument is a pointer to _IOC_SIZE bytes, so EVIOCREVOKE and
// EVIOCRMFF (argument by value) never get here; EVIOCGRAB comes through the
// grab relay and is the node's (EvdevFs).
EvdevIoctlAnswer evdevIoctl(EvdevDevice &device, EvdevClient &client, unsigned cmd,
                            const std::string &in, bool compat);
