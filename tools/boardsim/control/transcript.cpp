#include "control/transcript.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <nlohmann/json.hpp>

namespace {

// Paths, writes and arguments are bytes, not text: each byte becomes the
// character of its value, which the line then holds as \u00XX, so that every
// byte stays distinguishable (and the line valid JSON whatever was written).
std::string byteText(const std::string &raw)
{
    std::string out;
    out.reserve(raw.size());
    for (unsigned char c : raw) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xc0 | c >> 6);
            out += char(0x80 | (c & 0x3f));
        }
    }
    return out;
}

std::string toHex(const std::string &raw)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

} // namespace

std::string jsonLine(const nlohmann::ordered_json &value)
{
    // dump() writes either no spaces at all or one member a line; the scripts
    // look for the one-line form with a space after ':' and ','. A string's
    // own newlines are escaped, so every newline here is dump()'s.
    std::string line = value.dump(0, ' ', true);
    size_t to = 0;
    for (size_t from = 0; from < line.size();) {
        size_t end = line.find('\n', from);
        if (end == std::string::npos)
            end = line.size();
        std::copy(line.begin() + long(from), line.begin() + long(end), line.begin() + long(to));
        to += end - from;
        if (end < line.size() && line[to - 1] == ',')
            line[to++] = ' ';
        from = end + 1;
    }
    line.resize(to);
    return line;
}

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
    // Member by member: an initializer list would build a two-element array
    // for every member first, and the sanitizer builds pay for each allocation.
    nlohmann::ordered_json row;
    row["t"] = std::round(elapsedMs() * 1000) / 1000;
    row["pid"] = e.pid;
    row["op"] = e.op;
    row["path"] = byteText(e.path);
    if (e.hasBytes)
        row["bytes"] = byteText(e.bytes);
    if (e.hasHex)
        row["hex"] = toHex(e.hex);
    if (e.hasFlags)
        row["flags"] = e.flags;
    if (!e.request.empty())
        row["request"] = e.request;
    if (e.hasResult)
        row["result"] = e.result;
    if (e.hasArgs) {
        auto &args = row["args"] = nlohmann::ordered_json::array();
        for (const std::string &arg : e.args)
            args.push_back(byteText(arg));
    }
    std::string line = jsonLine(row);
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
