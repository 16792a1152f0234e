#pragma once

// --no-pidfd, for a command run under qemu-user 7.2: installs a seccomp filter
// in the calling process (the forked command, before exec) that fails
// waitid(P_PIDFD) with EINVAL and refuses kill(-1, ...) with EPERM. Safe
// between fork and exec here: the process that forks the command (the PID
// namespace's init) has a single thread. False with errno set when the filter
// cannot be installed.
bool installNoPidfdFilter();
