#include "controlserver.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

ControlServer::~ControlServer()
{
    closeAll();
}

bool ControlServer::listen(const std::string &path, std::string *error)
{
    sockaddr_un addr{};
    if (path.size() >= sizeof(addr.sun_path)) {
        *error = "control socket path too long";
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    unlink(path.c_str());
    if (m_listenFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 ||
        ::listen(m_listenFd, 64) != 0) {
        *error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    m_path = path;
    return true;
}

std::vector<int> ControlServer::fds() const
{
    std::vector<int> out;
    if (m_listenFd >= 0)
        out.push_back(m_listenFd);
    for (const auto &c : m_clients) {
        if (!c.second.waiting)
            out.push_back(c.first);
    }
    return out;
}

void ControlServer::onReadable(int fd)
{
    if (fd == m_listenFd) {
        int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            m_clients[client] = Client{};
        return;
    }
    auto it = m_clients.find(fd);
    if (it == m_clients.end())
        return;
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        drop(fd);
        return;
    }
    it->second.in.append(buf, size_t(n));
    processLines(fd);
}

void ControlServer::processLines(int fd)
{
    for (;;) {
        auto it = m_clients.find(fd);
        if (it == m_clients.end() || it->second.waiting)
            return;
        size_t nl = it->second.in.find('\n');
        if (nl == std::string::npos)
            return;
        std::string line = it->second.in.substr(0, nl);
        it->second.in.erase(0, nl + 1);
        std::string text;
        it->second.waiting = true;
        if (m_handler(fd, line, &text))
            reply(fd, text);
    }
}

void ControlServer::reply(int client, const std::string &text)
{
    auto it = m_clients.find(client);
    if (it == m_clients.end())
        return;
    std::string out = text + "\n";
    size_t done = 0;
    while (done < out.size()) {
        // Blocking write: replies are small and clients read them at once;
        // MSG_NOSIGNAL because a client may already be gone.
        ssize_t n = ::send(client, out.data() + done, out.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            drop(client);
            return;
        }
        done += size_t(n);
    }
    it->second.waiting = false;
    processLines(client);
}

void ControlServer::drop(int fd)
{
    ::close(fd);
    m_clients.erase(fd);
}

void ControlServer::closeAll()
{
    for (auto &c : m_clients)
        ::close(c.first);
    m_clients.clear();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
}
