#include "sandbox/seccompfilter.h"

#include <cerrno>

int loadCommandFilter(std::initializer_list<SeccompRule> rules, int *listener)
{
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx)
        return -ENOMEM;
    // Calls of another ABI (a 32-bit program the command starts) are no
    // business of the filter: they pass, as calls it does not name do.
    int rc = seccomp_attr_set(ctx, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ALLOW);
    // Without no_new_privs a filter needs CAP_SYS_ADMIN, which boardsim has as
    // root or in its user namespace; the command keeps setuid programs (sudo).
    if (rc == 0)
        rc = seccomp_attr_set(ctx, SCMP_FLTATR_CTL_NNP, 0);
    for (const SeccompRule &r : rules) {
        if (rc == 0)
            rc = seccomp_rule_add(ctx, r.action, r.syscall, 1, r.arg);
    }
    if (rc == 0)
        rc = seccomp_load(ctx);
    if (rc == 0 && listener)
        *listener = seccomp_notify_fd(ctx);
    seccomp_release(ctx);
    return rc;
}
