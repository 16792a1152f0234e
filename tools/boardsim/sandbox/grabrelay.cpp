#include "sandbox/grabrelay.h"

#include "sandbox/seccompfilter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// The process of a thread: pidfd_open() takes only a thread group's leader.
pid_t processOf(pid_t thread)
{
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%d/status", int(thread));
    FILE *f = std::fopen(path, "re");
    if (!f)
        return thread;
    char line[128];
    int tgid = int(thread);
    while (std::fgets(line, sizeof(line), f)) {
        if (std::sscanf(line, "Tgid: %d", &tgid) == 1)
            break;
    }
    std::fclose(f);
    return pid_t(tgid);
}

// The caller's open file itself (not a new open of the same node), or -1
// when it is gone or not an evdev node of ours. In the answering thread:
// the stat of the mount is a FUSE request that boardsim's loop serves.
int borrowFile(int listener, const seccomp_notif &call, const std::string &evdevDir)
{
    const int pidfd = int(syscall(SYS_pidfd_open, processOf(pid_t(call.pid)), 0));
    if (pidfd < 0)
        return -1;
    int fd = int(syscall(SYS_pidfd_getfd, pidfd, int(call.data.args[0]), 0));
    close(pidfd);
    // The caller may have died and its pid gone to another process meanwhile.
    if (fd >= 0 && seccomp_notify_id_valid(listener, call.id) != 0) {
        close(fd);
        fd = -1;
    }
    struct stat st, dir;
    if (fd >= 0 &&
        (fstat(fd, &st) != 0 || stat(evdevDir.c_str(), &dir) != 0 || st.st_dev != dir.st_dev)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Takes the buffers seccomp_notify_alloc() gave for the call.
void answer(int listener, seccomp_notif *call, seccomp_notif_resp *resp,
            const std::string &evdevDir)
{
    resp->id = call->id;
    const int fd = borrowFile(listener, *call, evdevDir);
    if (fd < 0) {
        resp->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE; // not ours: the kernel answers
    } else {
        int grab = call->data.args[2] != 0;
        if (ioctl(fd, EVIOCGRAB, &grab) < 0)
            resp->error = -errno;
        close(fd);
    }
    seccomp_notify_respond(listener, resp);
    seccomp_notify_free(call, resp);
}

} // namespace

GrabRelay::~GrabRelay()
{
    for (int fd : m_channel) {
        if (fd >= 0)
            close(fd);
    }
    // The listener stays open until boardsim exits: an answering thread may
    // still use it.
}

bool GrabRelay::prepare()
{
    return socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, m_channel) == 0;
}

void GrabRelay::installInChild()
{
    if (m_channel[1] < 0)
        return;
    int listener = -1;
    if (loadCommandFilter({{SCMP_ACT_NOTIFY, SCMP_SYS(ioctl), intArgEquals(1, EVIOCGRAB)}},
                          &listener) != 0)
        listener = -1;
    char byte = 0;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (listener >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        cmsghdr *cmsg = CMSG_FIRSTHDR(&msg);
        cmsg->cmsg_level = SOL_SOCKET;
        cmsg->cmsg_type = SCM_RIGHTS;
        cmsg->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(cmsg), &listener, sizeof(int));
    }
    (void)!sendmsg(m_channel[1], &msg, MSG_NOSIGNAL);
    if (listener >= 0)
        close(listener);
}

void GrabRelay::takeListener(const std::string &evdevDir)
{
    m_evdevDir = evdevDir;
    if (m_channel[0] < 0)
        return;
    close(m_channel[1]);
    m_channel[1] = -1;
    char byte;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    // The child sends before it execs, or ends and closes its end.
    if (recvmsg(m_channel[0], &msg, MSG_CMSG_CLOEXEC) > 0) {
        cmsghdr *cmsg = CMSG_FIRSTHDR(&msg);
        if (cmsg && cmsg->cmsg_type == SCM_RIGHTS)
            std::memcpy(&m_listener, CMSG_DATA(cmsg), sizeof(int));
    }
    close(m_channel[0]);
    m_channel[0] = -1;
}

void GrabRelay::onReadable()
{
    // Sized for the running kernel, whose records may outgrow this header's.
    seccomp_notif *call = nullptr;
    seccomp_notif_resp *resp = nullptr;
    if (seccomp_notify_alloc(&call, &resp) != 0)
        return;
    if (seccomp_notify_receive(m_listener, call) != 0) {
        seccomp_notify_free(call, resp); // the caller was interrupted meanwhile
        return;
    }
    std::thread(answer, m_listener, call, resp, m_evdevDir).detach();
}
