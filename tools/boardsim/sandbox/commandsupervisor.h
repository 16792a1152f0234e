#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Runs COMMAND in a PID namespace of its own, under a small init
// (namespaceinit.h) that is boardsim's only child: forwards the signals that
// would end boardsim to it and reaps it. Ending that init ends the command and
// everything it started, and it dies with boardsim however boardsim ends.
class CommandSupervisor
{
public:
    CommandSupervisor() = default;
    ~CommandSupervisor();
    CommandSupervisor(const CommandSupervisor &) = delete;
    CommandSupervisor &operator=(const CommandSupervisor &) = delete;

    // Blocks the forwarded signals and SIGCHLD into a signalfd; before any
    // child exists, so none is lost.
    bool prepare(std::string *error);
    // Readable when a signal arrived: call onSignals().
    int signalFd() const { return m_signalFd; }
    // Starts the namespace's init, which runs `command` with the signal mask
    // cleared; `noPidfd` installs the filter of nopidfd.h in it first.
    // `inChild` runs in the init before the command is forked (system calls
    // only); a seccomp filter it installs holds for the command.
    bool start(const std::vector<std::string> &command, bool noPidfd,
               const std::function<void()> &inChild, std::string *error);
    void onSignals();
    bool isDone() const { return m_done; }
    // The command's exit status, 128+N when signal N killed it.
    int exitStatus() const { return m_exitStatus; }
    // Ends the namespace, and with it the command and all it started; the
    // loop goes on serving their last file requests until isDone().
    void terminate();
    // Likewise, waiting for the end here (the file systems must not leave a
    // request of them unanswered).
    void stop();

private:
    void reap();

    int m_signalFd = -1;
    int m_parentAlive = -1; // the write end of the init's parentAlive pipe
    pid_t m_child = -1;
    bool m_done = false;
    int m_exitStatus = 0;
};
