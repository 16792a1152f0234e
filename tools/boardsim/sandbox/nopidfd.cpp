#include "sandbox/nopidfd.h"

#include "sandbox/seccompfilter.h"

#include <cerrno>

// qemu-user 7.2 passes waitid(P_PIDFD) through, so Qt's QProcess takes pidfds
// as available, but fails clone(CLONE_PIDFD) with EINVAL without telling Qt:
// QProcess then believes it runs a child with pid -1 and stops it with
// kill(-1, SIGKILL), which as root kills every process on the machine.
// Failing the probe with EINVAL, as a kernel without pidfds does, sends Qt down
// its plain fork path; kill(-1) itself is refused in case anything computes it.
bool installNoPidfdFilter()
{
    const unsigned pidfdIdType = 3; // P_PIDFD, which older C libraries do not name
    const int rc =
        loadCommandFilter({{SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(waitid), intArgEquals(0, pidfdIdType)},
                           {SCMP_ACT_ERRNO(EPERM), SCMP_SYS(kill), intArgEquals(0, uint32_t(-1))}});
    if (rc != 0)
        errno = -rc;
    return rc == 0;
}
