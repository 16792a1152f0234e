#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

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
        std::string bytes; // raw; escaped when written out
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

    // Also appends every line to this file (--transcript FILE).
    bool openFile(const std::string &path, std::string *error);

    void add(const Entry &entry);
    void clear() { m_lines.clear(); }
    const std::vector<std::string> &lines() const { return m_lines; }
    double elapsedMs() const;

    static std::string jsonEscape(const std::string &raw);
    static std::string toHex(const std::string &raw);
    // "O_WRONLY|O_TRUNC" for the flags an open reached the file system with.
    static std::string openFlags(int flags);

private:
    std::chrono::steady_clock::time_point m_start;
    std::vector<std::string> m_lines;
    FILE *m_file = nullptr;
};
