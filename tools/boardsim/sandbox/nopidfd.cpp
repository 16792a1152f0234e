#include "sandbox/nopidfd.h"

#include <cerrno>
#include <cstddef>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

// qemu-user 7.2 passes waitid(P_PIDFD) through, so Qt's QProcess takes pidfds
// as available, but fails clone(CLONE_PIDFD) with EINVAL without telling Qt:
// QProcess then believes it runs a child with pid -1 and stops it with
// kill(-1, SIGKILL), which as root kills every process on the machine.
// Failing the probe with EINVAL, as a kernel without pidfds does, sends Qt down
// its plain fork path; kill(-1) itself is refused in case anything computes it.
#if defined(__x86_64__)
#define BOARDSIM_AUDIT_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define BOARDSIM_AUDIT_ARCH AUDIT_ARCH_AARCH64
#endif

namespace {

#ifdef BOARDSIM_AUDIT_ARCH
const unsigned pidfdIdType = 3; // P_PIDFD, which older C libraries do not name
sock_filter noPidfdFilter[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, BOARDSIM_AUDIT_ARCH, 0, 7),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_waitid, 0, 2),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])), // low half
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, pidfdIdType, 4, 3),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_kill, 0, 2),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xffffffffu, 2, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
};
#endif

} // namespace

// Without no_new_privs a filter needs CAP_SYS_ADMIN, which boardsim has as
// root or in its user namespace.
bool installNoPidfdFilter()
{
#ifdef BOARDSIM_AUDIT_ARCH
    sock_fprog program{sizeof(noPidfdFilter) / sizeof(noPidfdFilter[0]), noPidfdFilter};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
    errno = ENOSYS;
    return false;
#endif
}
