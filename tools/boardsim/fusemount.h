#pragma once

#include <fuse_lowlevel.h>
#include <string>

// One low-level FUSE session, driven from the simulator's own poll loop
// instead of libfuse's loop: a single thread serves every file system, so a
// blocked evdev read is just a request that is answered later, and no state
// needs a lock.
class FuseMount
{
public:
    FuseMount() = default;
    ~FuseMount();
    FuseMount(const FuseMount &) = delete;
    FuseMount &operator=(const FuseMount &) = delete;

    bool mount(const std::string &mountPoint, const std::string &fsName,
               const fuse_lowlevel_ops &ops, void *userData, std::string *error);
    bool isMounted() const { return m_session != nullptr; }
    int fd() const;
    // Reads and handles one request (call when fd() is readable). False when
    // the kernel ended the session.
    bool processOne();
    void unmount();

private:
    fuse_session *m_session = nullptr;
    fuse_buf m_buf{};
};
