#include "controlconnection.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

ControlConnection::~ControlConnection()
{
    close();
}

std::string ControlConnection::defaultPath()
{
    const char *path = std::getenv("BOARDSIM_CONTROL");
    return path ? std::string(path) : std::string();
}

bool ControlConnection::connectTo(const std::string &path)
{
    close();
    if (path.empty()) {
        m_error = "not running under boardsim (BOARDSIM_CONTROL is not set)";
        return false;
    }
    sockaddr_un addr{};
    if (path.size() >= sizeof(addr.sun_path)) {
        m_error = "control socket path too long: " + path;
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        m_error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        m_error = "cannot connect to " + path + ": " + std::strerror(errno);
        close();
        return false;
    }
    return true;
}

void ControlConnection::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
}

bool ControlConnection::request(const std::string &line, std::string *reply, int timeoutMs)
{
    if (m_fd < 0) {
        *reply = m_error = "not connected";
        return false;
    }
    std::string out = line + "\n";
    size_t done = 0;
    while (done < out.size()) {
        // MSG_NOSIGNAL: a simulator that went away must not kill the caller with SIGPIPE.
        ssize_t n = ::send(m_fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *reply = m_error = std::string("send: ") + std::strerror(errno);
            close();
            return false;
        }
        done += size_t(n);
    }
    if (!readLine(reply, timeoutMs)) {
        *reply = m_error;
        return false;
    }
    return true;
}

bool ControlConnection::readLine(std::string *line, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t nl = m_buffer.find('\n');
        if (nl != std::string::npos) {
            *line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            return true;
        }
        if (m_fd < 0) {
            m_error = "not connected";
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            m_error = "no answer from boardsim within " + std::to_string(timeoutMs) + " ms";
            close();
            return false;
        }
        pollfd pfd{m_fd, POLLIN, 0};
        int r = ::poll(&pfd, 1, int(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            continue;
        char buf[4096];
        ssize_t n = ::read(m_fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = "boardsim closed the control connection";
            close();
            return false;
        }
        m_buffer.append(buf, size_t(n));
    }
}

std::string ControlConnection::encodeArg(const std::string &arg)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : arg) {
        if (c <= ' ' || c == '%' || c >= 0x7f) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    // An empty argument must still be a word.
    return out.empty() ? std::string("%") : out;
}

std::string ControlConnection::decodeArg(const std::string &arg)
{
    if (arg == "%")
        return std::string();
    std::string out;
    for (size_t i = 0; i < arg.size(); ++i) {
        if (arg[i] == '%' && i + 2 < arg.size()) {
            out += char(std::strtol(arg.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += arg[i];
        }
    }
    return out;
}

std::vector<std::string> ControlConnection::splitWords(const std::string &line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}
