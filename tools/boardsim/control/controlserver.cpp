#include "control/controlserver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// One read per readiness: a flooding client gets no more of the loop than others.
constexpr size_t readChunk = size_t{16} * 1024;
constexpr size_t excerptBytes = 40;
const char tooManyClients[] = "error too many clients\n";

} // namespace

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
    // bind() creates the socket file with the umask applied, and the mode of
    // a socket cannot be set through its descriptor: the umask decides, and
    // chmod() before listen() closes the gap for any umask the caller had.
    const mode_t oldMask = umask(0177);
    const bool bound = m_listenFd >= 0 &&
                       ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
    umask(oldMask);
    if (!bound || chmod(path.c_str(), 0600) != 0 || ::listen(m_listenFd, 64) != 0) {
        *error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    m_reserveFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    m_path = path;
    return true;
}

std::vector<pollfd> ControlServer::pollFds() const
{
    std::vector<pollfd> out;
    if (m_listenFd >= 0 && std::chrono::steady_clock::now() >= m_acceptPausedUntil)
        out.push_back({m_listenFd, POLLIN, 0});
    for (const auto &entry : m_clients) {
        const Client &c = entry.second;
        short events = 0;
        // A client waiting for a reply, being closed, or with requests still
        // to serve sends nothing we would take now: its bytes stay in the
        // kernel's buffer meanwhile.
        if (!c.waiting && !c.closing && !hasUnread(c))
            events |= POLLIN;
        if (c.out.size() > c.outStart)
            events |= POLLOUT;
        out.push_back({entry.first, events, 0});
    }
    return out;
}

std::chrono::steady_clock::time_point ControlServer::nextDeadline() const
{
    auto next = std::chrono::steady_clock::time_point::max();
    if (m_listenFd >= 0 && m_acceptPausedUntil > std::chrono::steady_clock::now())
        next = m_acceptPausedUntil;
    for (const auto &entry : m_clients) {
        const Client &c = entry.second;
        if (c.closing)
            next = std::min(next, c.closeBy);
        else if (!c.waiting && hasUnread(c))
            return std::chrono::steady_clock::now();
    }
    return next;
}

void ControlServer::onTimer()
{
    const auto now = std::chrono::steady_clock::now();
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        auto next = std::next(it);
        const Client &c = it->second;
        if (c.closing && now >= c.closeBy)
            drop(it->first);
        else if (!c.closing && !c.waiting && hasUnread(c))
            processLines(it->first);
        it = next;
    }
}

void ControlServer::onEvents(const pollfd &p)
{
    if (p.fd == m_listenFd) {
        // A burst of clients is taken in a few iterations, not one a turn.
        for (int i = 0; i < acceptsPerTurn && (p.revents & POLLIN) && acceptOne(); ++i) {
        }
        return;
    }
    auto it = m_clients.find(p.fd);
    if (it == m_clients.end())
        return;
    // POLLHUP: the peer closed for good and can read no reply either.
    if (p.revents & (POLLERR | POLLNVAL | POLLHUP)) {
        drop(p.fd);
        return;
    }
    if (p.revents & POLLOUT)
        flush(p.fd, it->second);
    it = m_clients.find(p.fd);
    if (it != m_clients.end() && (p.revents & POLLIN))
        readFrom(p.fd, it->second);
}

bool ControlServer::acceptOne()
{
    int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
        // Ids are not reused as descriptors are: a reply due to a client
        // that left can never reach the next one to get its descriptor.
        const int id = m_nextId;
        m_nextId = m_nextId == INT_MAX ? 1 : m_nextId + 1;
        m_clients[fd].id = id;
        m_fdOfId[id] = fd;
        return true;
    }
    if (errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM)
        return false; // EAGAIN, a client that left before we got to it, a signal
    // The waiting client would keep the socket readable and the loop
    // spinning: the reserve descriptor makes room to tell it and close it.
    if (m_reserveFd >= 0) {
        ::close(m_reserveFd);
        fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            (void)!::send(fd, tooManyClients, sizeof(tooManyClients) - 1,
                          MSG_DONTWAIT | MSG_NOSIGNAL);
            ::close(fd);
        }
        m_reserveFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && m_reserveFd >= 0)
            return true;
    }
    // Not even that: stop accepting for a while (or until a client leaves).
    m_acceptPausedUntil = std::chrono::steady_clock::now() + acceptPause;
    return false;
}

void ControlServer::readFrom(int fd, Client &c)
{
    if (c.waiting || c.closing)
        return;
    const size_t old = c.in.size();
    c.in.resize(old + readChunk);
    ssize_t n = ::read(fd, &c.in[old], readChunk);
    c.in.resize(old + size_t(n > 0 ? n : 0));
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // The client may have only shut down its sending side; whatever it
        // is still owed goes out before the connection closes.
        c.closing = true;
        c.closeBy = std::chrono::steady_clock::now() + lingerTime;
        c.in.clear();
        if (c.out.size() == c.outStart)
            drop(fd);
        return;
    }
    processLines(fd);
}

void ControlServer::processLines(int fd)
{
    for (int served = 0; served < linesPerTurn; ++served) {
        auto it = m_clients.find(fd);
        if (it == m_clients.end())
            return;
        Client &c = it->second;
        if (c.waiting || c.closing)
            return;
        // Only bytes not yet searched are searched: a long line arriving in
        // many reads costs linear time, not quadratic.
        const size_t from = c.inStart + c.scanned;
        const auto hit = std::find(c.in.begin() + long(from), c.in.end(), '\n');
        if (hit == c.in.end()) {
            c.scanned = c.in.size() - c.inStart;
            if (c.scanned > maxLineBytes)
                reject(fd, c, "error request line too long");
            else if (c.inStart > 0) {
                c.in.erase(0, c.inStart);
                c.inStart = 0;
            }
            return;
        }
        const size_t nl = size_t(hit - c.in.begin());
        if (nl - c.inStart > maxLineBytes) {
            reject(fd, c, "error request line too long");
            return;
        }
        std::string line = c.in.substr(c.inStart, nl - c.inStart);
        c.inStart = nl + 1;
        c.scanned = 0;
        c.waiting = true;
        std::string text;
        const int id = c.id;
        m_dispatching = id;
        const bool now = m_handler(id, line, &text);
        m_dispatching = 0;
        if (now)
            answer(fd, text);
    }
}

void ControlServer::reply(int client, const std::string &text)
{
    auto fd = m_fdOfId.find(client);
    if (fd == m_fdOfId.end())
        return; // it left meanwhile
    // Answered from inside its own request: processLines() goes on with the
    // next line itself, without recursing once per pipelined request.
    if (!answer(fd->second, text) || client == m_dispatching)
        return;
    processLines(fd->second);
}

bool ControlServer::answer(int fd, const std::string &text)
{
    auto it = m_clients.find(fd);
    if (it == m_clients.end())
        return false;
    it->second.waiting = false;
    queue(fd, it->second, text);
    return m_clients.count(fd) > 0;
}

void ControlServer::queue(int fd, Client &c, const std::string &text)
{
    const size_t pending = c.out.size() - c.outStart;
    if (pending > 0 && pending + text.size() + 1 > maxQueuedBytes) {
        reject(fd, c, "error too many unread replies");
        return;
    }
    if (c.outStart > 0 && c.outStart >= pending) {
        c.out.erase(0, c.outStart);
        c.outStart = 0;
    }
    c.out += text;
    c.out += '\n';
    flush(fd, c);
}

void ControlServer::flush(int fd, Client &c)
{
    while (c.out.size() > c.outStart) {
        ssize_t n = ::send(fd, c.out.data() + c.outStart, c.out.size() - c.outStart,
                           MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return; // the rest goes when poll says the socket takes more
        if (n <= 0) {
            drop(fd);
            return;
        }
        c.outStart += size_t(n);
    }
    c.out.clear();
    c.outStart = 0;
    if (c.closing && !c.waiting)
        drop(fd);
}

// One short error instead of the replies it did not read; then it goes.
void ControlServer::reject(int fd, Client &c, const std::string &error)
{
    // A reply cut off part-way would run into the error line.
    const bool midReply = c.outStart > 0;
    c.out = (midReply ? "\n" : "") + error + "\n";
    c.outStart = 0;
    c.in.clear();
    c.inStart = c.scanned = 0;
    c.closing = true;
    c.closeBy = std::chrono::steady_clock::now() + lingerTime;
    flush(fd, c);
}

void ControlServer::drop(int fd)
{
    ::close(fd);
    auto it = m_clients.find(fd);
    if (it != m_clients.end())
        m_fdOfId.erase(it->second.id);
    m_clients.erase(fd);
    // A descriptor is free again.
    m_acceptPausedUntil = {};
}

void ControlServer::closeAll()
{
    for (auto &c : m_clients)
        ::close(c.first);
    m_clients.clear();
    m_fdOfId.clear();
    for (int *fd : {&m_listenFd, &m_reserveFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

std::string ControlServer::excerpt(const std::string &line)
{
    std::string out;
    for (size_t i = 0; i < line.size() && i < excerptBytes; ++i) {
        const unsigned char ch = static_cast<unsigned char>(line[i]);
        out += (ch >= 0x20 && ch < 0x7f) ? char(ch) : '?';
    }
    if (line.size() > excerptBytes)
        out += "...";
    return out;
}
