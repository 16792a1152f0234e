#pragma once

#include <fuse_lowlevel.h>
#include <string>
#include <sys/types.h>
#include <vector>

// One entry of a simulated directory; `type` is S_IFDIR or S_IFREG.
struct FuseDirEntry
{
    std::string name;
    fuse_ino_t ino;
    mode_t type;
};

// Answers a readdir request with the entries from `offset` on that fit in
// `size` bytes. The type goes into d_type, which QDir and ls trust without
// a stat of their own.
void replyDirectory(fuse_req_t req, size_t size, off_t offset,
                    const std::vector<FuseDirEntry> &entries);

// The pid of the process behind a request as the board's processes see it.
// The kernel gives it in boardsim's PID namespace; the command runs in a
// namespace of its own, and the transcript must show the pids it knows.
int requesterPid(fuse_req_t req);

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
