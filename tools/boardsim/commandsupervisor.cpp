#include "commandsupervisor.h"

#include "nopidfd.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int forwardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// In the forked child: write(2) only.
void say(const char *text)
{
    (void)!write(2, text, std::strlen(text));
}

// Children of this process, read from /proc (the command name may hold
// spaces and parentheses; ppid follows the last ')').
std::vector<pid_t> childrenOf(pid_t parent)
{
    std::vector<pid_t> children;
    DIR *d = opendir("/proc");
    if (!d)
        return children;
    while (dirent *ent = readdir(d)) {
        int pid = std::atoi(ent->d_name);
        if (pid <= 0)
            continue;
        char path[64];
        std::snprintf(path, sizeof(path), "/proc/%d/stat", pid);
        FILE *f = std::fopen(path, "re");
        if (!f)
            continue;
        char buf[512];
        size_t len = std::fread(buf, 1, sizeof(buf) - 1, f);
        std::fclose(f);
        buf[len] = '\0';
        const char *close = std::strrchr(buf, ')');
        int ppid = 0;
        if (close && std::sscanf(close + 1, " %*c %d", &ppid) == 1 && ppid == parent)
            children.push_back(pid);
    }
    closedir(d);
    return children;
}

} // namespace

CommandSupervisor::~CommandSupervisor()
{
    if (m_signalFd >= 0)
        close(m_signalFd);
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
    // Orphans of the command (a hung tool it left behind) become our children,
    // so tear-down can end them.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    return true;
}

bool CommandSupervisor::start(const std::vector<std::string> &command, bool noPidfd,
                              std::string *error)
{
    std::vector<char *> argv;
    argv.reserve(command.size() + 1);
    for (const std::string &a : command)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_t parent = getpid();
    m_child = fork();
    if (m_child < 0) {
        *error = std::string("cannot fork: ") + std::strerror(errno);
        return false;
    }
    if (m_child > 0)
        return true;
    // Only async-signal-safe calls until exec.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // If boardsim dies, the command must not outlive the board it runs on.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    if (noPidfd && !installNoPidfdFilter()) {
        say("boardsim: --no-pidfd: cannot install the system call filter\n");
        _exit(126);
    }
    execvp(argv[0], argv.data());
    int err = errno;
    say("boardsim: cannot run the command: ");
    say(argv[0]);
    say(": ");
    say(std::strerror(err));
    say("\n");
    _exit(err == ENOENT ? 127 : 126);
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
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        if (pid != m_child)
            continue; // an orphan of the command, reparented to us
        m_done = true;
        if (WIFEXITED(status))
            m_exitStatus = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            m_exitStatus = 128 + WTERMSIG(status);
    }
}

void CommandSupervisor::stop()
{
    if (m_child > 0 && !m_done) {
        kill(m_child, SIGKILL);
        waitpid(m_child, nullptr, 0);
        m_done = true;
    }
}

// A bounded number of rounds, as each kill may orphan grandchildren.
void CommandSupervisor::killOrphans()
{
    const pid_t self = getpid();
    for (int round = 0; round < 50; ++round) {
        std::vector<pid_t> children = childrenOf(self);
        if (children.empty())
            return;
        for (pid_t pid : children)
            kill(pid, SIGKILL);
        // Reaped as they die, but never waiting on one for ever.
        for (int i = 0; i < 100; ++i) {
            bool all = true;
            for (pid_t &pid : children) {
                if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0)
                    all = false;
                else
                    pid = 0;
            }
            if (all)
                break;
            usleep(10000);
        }
    }
}
