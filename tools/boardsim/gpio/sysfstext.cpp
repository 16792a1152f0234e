#include "gpio/sysfstext.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

// A store method reads a C string: kernfs_fop_write_iter() ends the written
// bytes with a NUL, and a NUL among them ends the text there.

int sysfsKstrtol(const std::string &written, long *value)
{
    const char *text = written.c_str();
    const bool negative = text[0] == '-';
    const char *digits = text + (negative || text[0] == '+' ? 1 : 0);
    // strtoull() would take blanks and a second sign; _parse_integer() takes digits only.
    if (!std::isdigit(static_cast<unsigned char>(digits[0])))
        return -EINVAL;
    char *end = nullptr;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits, &end, 0);
    // _kstrtoull() reports an overflow before it looks past the digits...
    if (errno == ERANGE)
        return -ERANGE;
    if (*end == '\n')
        ++end;
    if (*end != '\0')
        return -EINVAL;
    // ...and kstrtoll() whether the number fits its sign only after that.
    const unsigned long long largest = negative ? 0ULL - LONG_MIN : LONG_MAX;
    if (magnitude > largest)
        return -ERANGE;
    *value = negative ? static_cast<long>(0ULL - magnitude) : static_cast<long>(magnitude);
    return 0;
}

bool sysfsStreq(const std::string &written, const char *word)
{
    const std::string text = written.substr(0, written.find('\0'));
    const std::string w = word;
    return text == w || text == w + "\n";
}
