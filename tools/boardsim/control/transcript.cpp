#include "control/transcript.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

Transcript::Transcript() : m_start(std::chrono::steady_clock::now()) {}

Transcript::~Transcript()
{
    if (m_file)
        std::fclose(m_file);
}

bool Transcript::openFile(const std::string &path, std::string *error)
{
    m_file = std::fopen(path.c_str(), "we");
    if (!m_file) {
        *error = std::strerror(errno);
        return false;
    }
    m_filePath = path;
    return true;
}

void Transcript::clear()
{
    m_lines.clear();
    m_heldBytes = 0;
    m_dropped = 0;
}

double Transcript::elapsedMs() const
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start)
        .count();
}

void Transcript::add(const Entry &e)
{
    char t[32];
    std::snprintf(t, sizeof(t), "%.3f", elapsedMs());
    std::string line = std::string("{\"t\": ") + t + ", \"pid\": " + std::to_string(e.pid) +
                       ", \"op\": \"" + jsonEscape(e.op) + "\", \"path\": \"" + jsonEscape(e.path) +
                       "\"";
    if (e.hasBytes)
        line += ", \"bytes\": \"" + jsonEscape(e.bytes) + "\"";
    if (e.hasHex)
        line += ", \"hex\": \"" + toHex(e.hex) + "\"";
    if (e.hasFlags)
        line += ", \"flags\": \"" + jsonEscape(e.flags) + "\"";
    if (!e.request.empty())
        line += ", \"request\": \"" + jsonEscape(e.request) + "\"";
    if (e.hasResult)
        line += ", \"result\": " + std::to_string(e.result);
    if (e.hasArgs) {
        line += ", \"args\": [";
        for (size_t i = 0; i < e.args.size(); ++i)
            line += (i ? ", \"" : "\"") + jsonEscape(e.args[i]) + "\"";
        line += "]";
    }
    line += "}";
    if (m_file) {
        // Flushed per line so that the file is complete even if boardsim is
        // killed; a file that misses entries would mislead whoever reads it.
        if (std::fprintf(m_file, "%s\n", line.c_str()) < 0 || std::fflush(m_file) != 0) {
            m_failure =
                "cannot write the transcript to " + m_filePath + ": " + std::strerror(errno);
            std::fclose(m_file);
            m_file = nullptr;
        }
    }
    m_heldBytes += line.size() + entryOverhead;
    m_lines.push_back(std::move(line));
    while (m_heldBytes > maxHeldBytes && m_lines.size() > 1) {
        m_heldBytes -= m_lines.front().size() + entryOverhead;
        m_lines.pop_front();
        ++m_dropped;
    }
}

std::string Transcript::jsonEscape(const std::string &raw)
{
    std::string out;
    for (unsigned char c : raw) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                // Bytes, not text: \u00XX keeps each byte distinguishable.
                char buf[8];
                std::snprintf(buf, sizeof(buf), "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out;
}

std::string Transcript::toHex(const std::string &raw)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Transcript::openFlags(int flags)
{
    std::string out;
    switch (flags & O_ACCMODE) {
    case O_WRONLY:
        out = "O_WRONLY";
        break;
    case O_RDWR:
        out = "O_RDWR";
        break;
    default:
        out = "O_RDONLY";
    }
    // The kernel keeps O_CREAT and O_EXCL to itself; these are what FUSE sees.
    const std::pair<int, const char *> names[] = {
        {O_TRUNC, "O_TRUNC"}, {O_APPEND, "O_APPEND"}, {O_NONBLOCK, "O_NONBLOCK"},
        {O_CREAT, "O_CREAT"}, {O_EXCL, "O_EXCL"},     {O_SYNC, "O_SYNC"}};
    for (const auto &n : names) {
        if ((flags & n.first) == n.first)
            out += std::string("|") + n.second;
    }
    return out;
}
