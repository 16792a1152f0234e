#pragma once

#include <string>

// EVIOCGRAB takes its flag as the ioctl's argument itself, and FUSE copies
// _IOC_SIZE bytes from that argument as from a pointer, so the call fails
// with EFAULT before any FUSE file sees it. The relay gets it there another
// way: the command runs under a seccomp filter that hands ioctl(EVIOCGRAB)
// to boardsim (SECCOMP_RET_USER_NOTIF); boardsim takes a duplicate of the
// caller's descriptor (pidfd_getfd), and when it is one of its evdev nodes it
// repeats the request on it with the flag behind a pointer, which FUSE
// carries, and answers the caller with the node's result. Any other file
// gets the kernel's own answer.
class GrabRelay
{
public:
    GrabRelay() = default;
    ~GrabRelay();
    GrabRelay(const GrabRelay &) = delete;
    GrabRelay &operator=(const GrabRelay &) = delete;

    // Before fork: the channel the command's listener comes back on.
    bool prepare();
    // In the forked command, before exec (system calls only): installs the
    // filter and sends its listener back. Without a listener (an older
    // kernel, or a boardsim inside another one) EVIOCGRAB stays EFAULT.
    void installInChild();
    // In boardsim after fork: takes the listener; `evdevDir` is the evdev
    // mount, whose st_dev tells its nodes from other files.
    void takeListener(const std::string &evdevDir);
    // Readable when a caller waits: call onReadable().
    int fd() const { return m_listener; }
    // Takes one waiting call and answers it from a thread of its own, as the
    // repeated request is served by this process's own loop.
    void onReadable();

private:
    int m_channel[2] = {-1, -1};
    int m_listener = -1;
    std::string m_evdevDir;
};
