#pragma once

#include <cstdint>
#include <initializer_list>
#include <seccomp.h>

// One rule of a command's filter: what `action` a call of `syscall` gets when
// its argument matches `arg`.
struct SeccompRule
{
    uint32_t action;
    int syscall;
    scmp_arg_cmp arg;
};

// An argument the kernel takes as an int: only the low half of the register
// counts, as callers may sign-extend it (glibc's kill(-1)) or leave junk above.
inline scmp_arg_cmp intArgEquals(unsigned arg, uint32_t value)
{
    return SCMP_CMP64(arg, SCMP_CMP_MASKED_EQ, 0xffffffffu, value);
}

// Loads into the calling process a filter that lets every system call through
// but those the rules match. Returns 0 or libseccomp's negative error; when a
// rule notifies (SCMP_ACT_NOTIFY), *listener is the descriptor to answer on.
int loadCommandFilter(std::initializer_list<SeccompRule> rules, int *listener = nullptr);
