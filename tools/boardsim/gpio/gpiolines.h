#pragma once

#include <set>
#include <string>
#include <vector>

// kstrtol(buf, 0, ...): decimal, 0x hex or 0 octal with an optional sign,
// one trailing newline allowed, nothing else around it; 0 or -EINVAL, or
// -ERANGE for a number that does not fit a long.
int kstrtol(const std::string &text, long *value);

// The legacy sysfs GPIO lines and what a write to their attributes does
// (drivers/gpio/gpiolib-sysfs.c): each store takes the bytes written and
// returns 0 or the kernel's negative errno. Lines 0..count-1 exist.
class GpioLines
{
public:
    static constexpr int count = 256;

    struct Line
    {
        bool exported = false;
        bool output = false;
        // The level on the wire, whatever active_low says.
        bool high = false;
        // FLAG_ACTIVE_LOW: value reads and writes the inverse of the level; direction's
        // "high", "low" and "out" set the level itself. A line exports active high.
        bool activeLow = false;
    };

    GpioLines() : m_lines(count) {}

    // These lines fail to export with EINVAL, as lines that do not exist on
    // the board's GPIO chips.
    void refuseExport(int line) { m_refused.insert(line); }
    // Exported before the command runs, as the board's init scripts do.
    void preExport(int line, bool output, bool high);

    const Line &line(int n) const { return m_lines[size_t(n)]; }
    bool isExported(int n) const { return n >= 0 && n < count && line(n).exported; }

    // export_store() and unexport_store(): the number first, then a line
    // that exists (gpio_to_desc()), then whether it is free or exported.
    int exportStore(const std::string &buf);
    int unexportStore(const std::string &buf);
    // direction_store() and value_store() of an exported line.
    int directionStore(int line, const std::string &buf);
    int valueStore(int line, const std::string &buf);
    // active_low_store(): any number kstrtol() takes, set when not zero.
    int activeLowStore(int line, const std::string &buf);
    // value_show(): the level as active_low turns it.
    bool value(int n) const { return line(n).high != line(n).activeLow; }

private:
    // The line `buf` names, or a negative errno.
    int lineNamed(const std::string &buf) const;

    std::vector<Line> m_lines;
    std::set<int> m_refused;
};
