#pragma once

#include <functional>
#include <vector>

// The first process of the command's PID namespace, between boardsim and the
// command. The kernel ends every process of a PID namespace when its first
// one dies, and this one dies with boardsim (PR_SET_PDEATHSIG): whatever ends
// boardsim, even SIGKILL, nothing the command started outlives the board.
// It also gives the namespace its own /proc (in a mount namespace of its own,
// so that boardsim keeps the host's), reaps orphans, passes on the signals
// boardsim forwards, and exits with the command's status (128+N when signal N
// killed it).
//
// `parentAlive` is the read end of a pipe whose write end only boardsim
// holds: end-of-file on it means boardsim is already gone. `noPidfd` installs
// the filter of nopidfd.h in the command. `inChild` runs first, with
// boardsim's descriptors still open (system calls only); seccomp filters it
// installs hold for the command, which inherits them.
[[noreturn]] void runNamespaceInit(int parentAlive, std::vector<char *> argv, bool noPidfd,
                                   const std::function<void()> &inChild);
