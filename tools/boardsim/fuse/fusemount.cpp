#include "fuse/fusemount.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

FuseMount::~FuseMount()
{
    unmount();
}

bool FuseMount::mount(const std::string &mountPoint, const std::string &fsName,
                      const fuse_lowlevel_ops &ops, void *userData, std::string *error)
{
    // allow_other: the command may switch users (e.g. a test run through su),
    // and the kernel would otherwise deny it every access. default_permissions:
    // the kernel then checks the modes and owners we report, as the board's
    // kernel checks those of sysfs and devtmpfs; a product running as a plain
    // user must be refused here where it would be refused there.
    std::string options = "fsname=" + fsName + ",subtype=boardsim,allow_other,default_permissions";
    std::vector<std::string> argvStrings = {"boardsim", "-o", options};
    std::vector<char *> argv;
    argv.reserve(argvStrings.size());
    for (auto &s : argvStrings)
        argv.push_back(s.data());
    fuse_args args = FUSE_ARGS_INIT(int(argv.size()), argv.data());
    m_session = fuse_session_new(&args, &ops, sizeof(ops), userData);
    fuse_opt_free_args(&args);
    if (!m_session) {
        *error = "libfuse refused the session options";
        return false;
    }
    if (fuse_session_mount(m_session, mountPoint.c_str()) != 0) {
        fuse_session_destroy(m_session);
        m_session = nullptr;
        *error = "mounting failed (is /dev/fuse usable here?)";
        return false;
    }
    // The command must not inherit the connection: the file systems have to
    // go away with boardsim, not with the last holder of this descriptor.
    fcntl(fd(), F_SETFD, FD_CLOEXEC);
    return true;
}

int FuseMount::fd() const
{
    return m_session ? fuse_session_fd(m_session) : -1;
}

bool FuseMount::processOne()
{
    if (!m_session)
        return false;
    int res = fuse_session_receive_buf(m_session, &m_buf);
    if (res == -EINTR || res == -EAGAIN)
        return true;
    if (res <= 0)
        return false;
    fuse_session_process_buf(m_session, &m_buf);
    return true;
}

void FuseMount::unmount()
{
    if (!m_session)
        return;
    fuse_session_unmount(m_session);
    fuse_session_destroy(m_session);
    m_session = nullptr;
    std::free(m_buf.mem);
    m_buf = fuse_buf{};
}

void replyDirectory(fuse_req_t req, size_t size, off_t offset,
                    const std::vector<FuseDirEntry> &entries)
{
    std::vector<char> buf(size);
    size_t used = 0;
    for (size_t i = size_t(offset); i < entries.size(); ++i) {
        struct stat st = {};
        st.st_ino = entries[i].ino;
        st.st_mode = entries[i].type;
        const size_t need = fuse_add_direntry(req, buf.data() + used, size - used,
                                              entries[i].name.c_str(), &st, off_t(i + 1));
        if (need > size - used)
            break;
        used += need;
    }
    fuse_reply_buf(req, buf.data(), used);
}

int requesterPid(fuse_req_t req)
{
    const int pid = int(fuse_req_ctx(req)->pid);
    char path[48];
    std::snprintf(path, sizeof(path), "/proc/%d/status", pid);
    FILE *f = pid > 0 ? std::fopen(path, "re") : nullptr;
    if (!f)
        return pid;
    // "NSpid:\t<ours>\t...\t<innermost>": the last is the command's view.
    int inner = pid;
    char line[256];
    while (std::fgets(line, sizeof(line), f)) {
        if (std::strncmp(line, "NSpid:", 6) != 0)
            continue;
        const char *last = std::strrchr(line, '\t');
        if (last)
            inner = std::atoi(last + 1);
        break;
    }
    std::fclose(f);
    return inner;
}
