// How the simulated sysfs GPIO files read what a process writes to them,
// against the kernel's own reading, modelled here from lib/kstrtox.c and
// lib/string.c as a store method sees the buffer: kernfs_fop_write_iter()
// copies the write and ends it with a NUL, so the text stops at the first NUL.
// Input: the bytes of one write (FUSE never passes on an empty one).
#include "fuzzcheck.h"
#include "gpio/sysfstext.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = char(c | 0x20);
    if (lower >= 'a' && lower <= 'f')
        return lower - 'a' + 10;
    return 16;
}

// _kstrtoull() with base 0: _parse_integer_fixup_radix(), _parse_integer(),
// then one newline and the end of the string.
int kernelKstrtoull(const char *s, unsigned long long *result)
{
    unsigned base = 10;
    if (s[0] == '0') {
        base = 8;
        if ((s[1] | 0x20) == 'x' && digitValue(s[2]) < 16) {
            base = 16;
            s += 2;
        }
    }
    unsigned long long value = 0;
    bool overflow = false;
    size_t digits = 0;
    for (; int(digitValue(s[digits])) < int(base); ++digits) {
        const unsigned d = unsigned(digitValue(s[digits]));
        if (value > (ULLONG_MAX - d) / base)
            overflow = true;
        value = value * base + d;
    }
    if (overflow)
        return -ERANGE;
    if (digits == 0)
        return -EINVAL;
    s += digits;
    if (*s == '\n')
        ++s;
    if (*s)
        return -EINVAL;
    *result = value;
    return 0;
}

// kstrtol() on a 64-bit kernel is kstrtoll().
int kernelKstrtol(const char *s, long *result)
{
    unsigned long long magnitude = 0;
    if (s[0] == '-') {
        if (int error = kernelKstrtoull(s + 1, &magnitude))
            return error;
        if (static_cast<long long>(0 - magnitude) > 0)
            return -ERANGE;
        *result = static_cast<long>(0 - magnitude);
        return 0;
    }
    if (s[0] == '+')
        ++s;
    if (int error = kernelKstrtoull(s, &magnitude))
        return error;
    if (static_cast<long long>(magnitude) < 0)
        return -ERANGE;
    *result = static_cast<long>(magnitude);
    return 0;
}

bool kernelSysfsStreq(const char *s1, const char *s2)
{
    while (*s1 && *s1 == *s2) {
        ++s1;
        ++s2;
    }
    if (*s1 == *s2)
        return true;
    if (!*s1 && *s2 == '\n' && !s2[1])
        return true;
    if (*s1 == '\n' && !s1[1] && !*s2)
        return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string written(reinterpret_cast<const char *>(data), size);
    // What the store method gets: the write and the NUL that kernfs adds.
    const char *buffer = written.c_str();

    long got = 0x5a5a;
    long want = 0x5a5a;
    const int gotError = sysfsKstrtol(written, &got);
    const int wantError = kernelKstrtol(buffer, &want);
    if (gotError != wantError) {
        std::fprintf(stderr, "kstrtol: %d, the kernel's %d\n", gotError, wantError);
        FUZZ_CHECK(gotError == wantError);
    }
    FUZZ_CHECK(got == want);

    for (const char *word : {"in", "out", "low", "high"})
        FUZZ_CHECK(sysfsStreq(written, word) == kernelSysfsStreq(buffer, word));
    return 0;
}
