#include "sandbox/namespaceinit.h"

#include "sandbox/nopidfd.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void say(const char *text)
{
    (void)!write(2, text, std::strlen(text));
}

// boardsim's own descriptors (FUSE connections, sockets) are close-on-exec
// for the command, but this process never execs: it closes them itself, or
// it would keep the file systems' connections alive.
void closeBoardsimDescriptors(int keep)
{
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return;
    std::vector<int> fds;
    while (dirent *ent = readdir(d)) {
        const int fd = std::atoi(ent->d_name);
        if (fd > 2 && fd != keep && fd != dirfd(d) && (fcntl(fd, F_GETFD) & FD_CLOEXEC))
            fds.push_back(fd);
    }
    closedir(d);
    for (int fd : fds)
        close(fd);
}

// Processes see their own namespace in /proc (ps, kill by pid, Qt's
// /proc/self lookups); boardsim, outside it, keeps the host's.
void mountOwnProc()
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        say("boardsim: warning: cannot mount /proc for the command's PID namespace: ");
        say(std::strerror(errno));
        say("\n");
    }
}

[[noreturn]] void execCommand(std::vector<char *> &argv, bool noPidfd)
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (noPidfd && !installNoPidfdFilter()) {
        say("boardsim: --no-pidfd: cannot install the system call filter\n");
        _exit(126);
    }
    execvp(argv[0], argv.data());
    const int err = errno;
    say("boardsim: cannot run the command: ");
    say(argv[0]);
    say(": ");
    say(std::strerror(err));
    say("\n");
    _exit(err == ENOENT ? 127 : 126);
}

} // namespace

void runNamespaceInit(int parentAlive, std::vector<char *> argv, bool noPidfd,
                      const std::function<void()> &inChild)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    pollfd p{parentAlive, POLLIN, 0};
    if (poll(&p, 1, 0) != 0) // boardsim died before the line above took effect
        _exit(127);
    inChild();
    closeBoardsimDescriptors(parentAlive);
    mountOwnProc();

    // boardsim blocked these before forking; they stay blocked here and are
    // taken one by one below.
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, nullptr);

    const pid_t command = fork();
    if (command < 0) {
        say("boardsim: cannot fork the command\n");
        _exit(126);
    }
    if (command == 0) {
        close(parentAlive);
        execCommand(argv, noPidfd);
    }
    for (;;) {
        siginfo_t info;
        const int sig = sigwaitinfo(&set, &info);
        if (sig == SIGCHLD) {
            int status = 0;
            pid_t pid;
            while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
                if (pid == command)
                    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
            }
        } else if (sig > 0 && info.si_code == SI_USER) {
            // From boardsim, passing on what it was sent. A terminal's ^C
            // (SI_KERNEL) already reached the command in its process group.
            kill(command, sig);
        }
    }
}
