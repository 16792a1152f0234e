#include "sandbox/commandsupervisor.h"

#include "sandbox/namespaceinit.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int forwardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

} // namespace

CommandSupervisor::~CommandSupervisor()
{
    for (int fd : {m_signalFd, m_parentAlive}) {
        if (fd >= 0)
            close(fd);
    }
}

bool CommandSupervisor::prepare(std::string *error)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    for (int sig : forwardedSignals)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    m_signalFd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_signalFd < 0) {
        *error = std::string("signalfd: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool CommandSupervisor::start(const std::vector<std::string> &command, bool noPidfd,
                              const std::function<void()> &inChild, std::string *error)
{
    std::vector<char *> argv;
    argv.reserve(command.size() + 1);
    for (const std::string &a : command)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    int alive[2];
    if (pipe2(alive, O_CLOEXEC) != 0) {
        *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    // A fork whose child is the first process of a new PID namespace (see
    // namespaceinit.h). Not unshare(CLONE_NEWPID): boardsim's own later
    // children would land in that namespace too, and once it has ended no
    // fork succeeds (LeakSanitizer's, at exit, among them).
    m_child = pid_t(syscall(SYS_clone, CLONE_NEWPID | SIGCHLD, nullptr, nullptr, nullptr, nullptr));
    if (m_child == 0) {
        close(alive[1]);
        runNamespaceInit(alive[0], std::move(argv), noPidfd, inChild);
    }
    close(alive[0]);
    m_parentAlive = alive[1];
    if (m_child < 0) {
        *error = std::string("cannot create a PID namespace: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void CommandSupervisor::onSignals()
{
    signalfd_siginfo info;
    while (read(m_signalFd, &info, sizeof(info)) == ssize_t(sizeof(info))) {
        if (info.ssi_signo == SIGCHLD)
            reap();
        else if (m_child > 0 && !m_done)
            kill(m_child, int(info.ssi_signo));
    }
}

void CommandSupervisor::reap()
{
    int status = 0;
    if (m_child > 0 && !m_done && waitpid(m_child, &status, WNOHANG) == m_child) {
        m_done = true;
        if (WIFEXITED(status))
            m_exitStatus = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            m_exitStatus = 128 + WTERMSIG(status);
    }
}

void CommandSupervisor::terminate()
{
    if (m_child > 0 && !m_done)
        kill(m_child, SIGKILL);
}

void CommandSupervisor::stop()
{
    if (m_child > 0 && !m_done) {
        kill(m_child, SIGKILL);
        waitpid(m_child, nullptr, 0);
        m_done = true;
    }
}
