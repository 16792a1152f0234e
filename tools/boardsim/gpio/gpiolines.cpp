#include "gpio/gpiolines.h"

#include "gpio/sysfstext.h"

#include <cerrno>
#include <cstdlib>

int kstrtol(const std::string &text, long *value)
{
    return sysfsKstrtol(text, value);
}

void GpioLines::preExport(int line, bool output, bool high)
{
    if (line < 0 || line >= count)
        return;
    Line &l = m_lines[size_t(line)];
    l = Line{};
    l.exported = true;
    l.output = output;
    l.high = high;
}

int GpioLines::lineNamed(const std::string &buf) const
{
    long n = 0;
    if (int err = kstrtol(buf, &n))
        return err;
    if (n < 0 || n >= count)
        return -EINVAL;
    return int(n);
}

int GpioLines::exportStore(const std::string &buf)
{
    const int n = lineNamed(buf);
    if (n < 0)
        return n;
    if (m_refused.count(n))
        return -EINVAL;
    Line &l = m_lines[size_t(n)];
    if (l.exported)
        return -EBUSY;
    l = Line{};
    l.exported = true;
    return 0;
}

int GpioLines::unexportStore(const std::string &buf)
{
    const int n = lineNamed(buf);
    if (n < 0)
        return n;
    Line &l = m_lines[size_t(n)];
    if (!l.exported)
        return -EINVAL;
    l = Line{};
    return 0;
}

int GpioLines::directionStore(int line, const std::string &buf)
{
    Line &l = m_lines[size_t(line)];
    if (sysfsStreq(buf, "in")) {
        l.output = false;
    } else if (sysfsStreq(buf, "out") || sysfsStreq(buf, "low")) {
        l.output = true;
        l.high = false;
    } else if (sysfsStreq(buf, "high")) {
        l.output = true;
        l.high = true;
    } else {
        return -EINVAL;
    }
    return 0;
}

// An input is EPERM before the text is looked at; any number kstrtol()
// takes drives the line, active when it is not zero.
int GpioLines::valueStore(int line, const std::string &buf)
{
    Line &l = m_lines[size_t(line)];
    long level = 0;
    if (!l.output)
        return -EPERM;
    if (int err = kstrtol(buf, &level))
        return err;
    l.high = (level != 0) != l.activeLow;
    return 0;
}

int GpioLines::activeLowStore(int line, const std::string &buf)
{
    long flag = 0;
    if (int err = kstrtol(buf, &flag))
        return err;
    m_lines[size_t(line)].activeLow = flag != 0;
    return 0;
}
