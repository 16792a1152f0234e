#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <poll.h>
#include <string>
#include <vector>

// The control socket: clients send one request line at a time and get one
// reply. Requests are handed to the simulator, which either answers at once
// or later (a client waiting for the transcript to change); a client's next
// request is only taken after its reply was queued, so replies stay in order.
//
// The loop serves every process on the board, so no client may stall it or
// make it grow: sockets are non-blocking and replies wait in a per-client
// queue until the socket takes them; a request line longer than
// maxLineBytes, or replies piling up past maxQueuedBytes, earn one short
// error and the connection is closed. Each readiness costs one bounded read.
class ControlServer
{
public:
    // Longer than any real request (a tool's arguments); shorter than harm.
    static constexpr size_t maxLineBytes = size_t{64} * 1024;
    // Replies a client has not read yet. A single reply is always queued on an
    // empty queue, so the transcript reply can be larger.
    static constexpr size_t maxQueuedBytes = size_t{1024} * 1024;
    // Requests of one client served per loop iteration: a 16 KiB read of
    // pipelined requests must not hold up the rest of the board.
    static constexpr int linesPerTurn = 16;
    static constexpr int acceptsPerTurn = 16;
    // How long a client being closed for misbehaving gets to read its error.
    static constexpr std::chrono::milliseconds lingerTime{1000};
    // How long accepting pauses when no descriptor is left even to refuse one.
    static constexpr std::chrono::milliseconds acceptPause{100};

    // Returns true with the reply in *reply, or false to answer later through
    // reply(). `client` names the connection, never reused while boardsim runs.
    using Handler = std::function<bool(int client, const std::string &line, std::string *reply)>;

    ControlServer() = default;
    ~ControlServer();
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    // The socket is created 0600 whatever the umask: whoever reaches it drives the board.
    bool listen(const std::string &path, std::string *error);
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // What to poll, and what to do with the result.
    std::vector<pollfd> pollFds() const;
    void onEvents(const pollfd &p);
    // When a linger or an accept pause ends, now while requests wait to be
    // served (time_point::max() when nothing is due).
    std::chrono::steady_clock::time_point nextDeadline() const;
    void onTimer();
    void reply(int client, const std::string &text);
    void closeAll();
    size_t clientCount() const { return m_clients.size(); }

    // The first bytes of a request, printable, for an error message.
    static std::string excerpt(const std::string &line);

private:
    struct Client
    {
        int id = 0;
        std::string in;
        size_t inStart = 0; // bytes before it were already taken as lines
        size_t scanned = 0; // bytes from inStart on known to hold no newline
        std::string out;
        size_t outStart = 0;  // bytes before it were already sent
        bool waiting = false; // its reply will come later
        bool closing = false; // told why it is dropped; only its error goes out
        std::chrono::steady_clock::time_point closeBy;
    };
    // False when there was none to take (or no room for one).
    bool acceptOne();
    void readFrom(int fd, Client &c);
    // Serves up to linesPerTurn complete request lines.
    void processLines(int fd);
    // Received bytes not yet searched for a line end.
    static bool hasUnread(const Client &c) { return c.in.size() > c.inStart + c.scanned; }
    // Queues a reply; false when the client is gone (or went because of it).
    bool answer(int fd, const std::string &text);
    void queue(int fd, Client &c, const std::string &text);
    void flush(int fd, Client &c);
    void reject(int fd, Client &c, const std::string &error);
    void drop(int fd);

    int m_listenFd = -1;
    // Kept open so that, out of descriptors, a waiting client can still be
    // accepted, told why and closed instead of being polled for ever.
    int m_reserveFd = -1;
    std::chrono::steady_clock::time_point m_acceptPausedUntil;
    std::string m_path;
    std::map<int, Client> m_clients; // by descriptor
    std::map<int, int> m_fdOfId;
    int m_nextId = 1;
    Handler m_handler;
    int m_dispatching = 0; // the client whose request the handler is running
};
