#pragma once

#include <chrono>
#include <cstdio>
#include <deque>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <utility>
#include <vector>

// `value` on one line, as the transcript and the control replies carry it:
// {"key": value, "key": [value, value]}, ASCII only.
std::string jsonLine(const nlohmann::ordered_json &value);

// What happened on the simulated files and tools, one JSON object per line, so
// that tests can assert the exact order and bytes the product used.
class Transcript
{
public:
    struct Entry
    {
        Entry(int pid, std::string op, std::string path)
            : pid(pid), op(std::move(op)), path(std::move(path))
        {}

        int pid = 0;
        std::string op;
        std::string path;
        bool hasBytes = false;
        std::string bytes; // raw; each byte written as a character (\u00XX above 0x7f)
        bool hasHex = false;
        std::string hex; // raw; written as hex digits (binary evdev records)
        bool hasFlags = false;
        std::string flags;
        bool hasResult = true;
        long result = 0;
        std::string request; // ioctl request number, "0x80184540"
        bool hasArgs = false;
        std::vector<std::string> args;
    };

    Transcript();
    ~Transcript();
    Transcript(const Transcript &) = delete;
    Transcript &operator=(const Transcript &) = delete;

    // In memory only the newest entries are kept, up to this many bytes of
    // text (each entry counted with its bookkeeping): a long session, say a
    // million encoder steps, must not make the simulator grow without bound.
    static constexpr size_t maxHeldBytes = size_t{4} * 1024 * 1024;
    static constexpr size_t entryOverhead = 64;

    // Also appends every entry, dropped from memory or not, to this file
    // (--transcript FILE). A failed write stops the streaming; see failure().
    bool openFile(const std::string &path, std::string *error);
    // Why streaming to the file failed; empty while it works.
    const std::string &failure() const { return m_failure; }

    void add(const Entry &entry);
    void clear();
    // Entries are numbered from the start (or the last clear) whether they
    // are still held or not, so that a client's "from N" stays meaningful.
    size_t count() const { return m_dropped + m_lines.size(); }
    size_t dropped() const { return m_dropped; }
    // The entry numbered `index`, which must lie in [dropped(), count()).
    const std::string &at(size_t index) const { return m_lines[index - m_dropped]; }
    double elapsedMs() const;

    // "O_WRONLY|O_TRUNC" for the flags an open reached the file system with.
    static std::string openFlags(int flags);

private:
    std::chrono::steady_clock::time_point m_start;
    std::deque<std::string> m_lines;
    size_t m_heldBytes = 0;
    size_t m_dropped = 0;
    FILE *m_file = nullptr;
    std::string m_filePath;
    std::string m_failure;
};
