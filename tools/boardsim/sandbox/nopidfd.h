#pragma once

// --no-pidfd, for a command run under qemu-user 7.2: installs a seccomp filter
// in the calling process (the forked command, before exec) that fails
// waitid(P_PIDFD) with EINVAL and refuses kill(-1, ...) with EPERM. Only
// system calls, so it is safe between fork and exec. False with errno set
// when the filter cannot be installed (or this architecture has none).
bool installNoPidfdFilter();
