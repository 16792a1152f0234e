#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Runs COMMAND as boardsim's child and looks after it: forwards the signals
// that would end boardsim to it, reaps it (and the orphans it leaves, which
// become ours as subreaper), and at the end kills whatever it left running.
class CommandSupervisor
{
public:
    CommandSupervisor() = default;
    ~CommandSupervisor();
    CommandSupervisor(const CommandSupervisor &) = delete;
    CommandSupervisor &operator=(const CommandSupervisor &) = delete;

    // Blocks the forwarded signals and SIGCHLD into a signalfd and makes this
    // process the subreaper; before any child exists, so none is lost.
    bool prepare(std::string *error);
    // Readable when a signal arrived: call onSignals().
    int signalFd() const { return m_signalFd; }
    // Forks and execs `command` with the signal mask cleared; `noPidfd`
    // installs the filter of nopidfd.h first.
    bool start(const std::vector<std::string> &command, bool noPidfd, std::string *error);
    void onSignals();
    bool isDone() const { return m_done; }
    // The command's exit status, 128+N when signal N killed it.
    int exitStatus() const { return m_exitStatus; }
    // Kills the command if it still runs and waits for it.
    void stop();
    // Kills and reaps what the command left running.
    void killOrphans();

private:
    void reap();

    int m_signalFd = -1;
    pid_t m_child = -1;
    bool m_done = false;
    int m_exitStatus = 0;
};
