#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

// The control socket: clients send one request line at a time and get one
// reply. Requests are handed to the simulator, which either answers at once
// or later (a client waiting for the transcript to change); a client's next
// request is only read after its reply went out, so replies stay in order.
class ControlServer
{
public:
    // Returns true with the reply in *reply, or false to answer later through
    // reply().
    using Handler = std::function<bool(int client, const std::string &line, std::string *reply)>;

    ControlServer() = default;
    ~ControlServer();
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    bool listen(const std::string &path, std::string *error);
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Descriptors to poll for input.
    std::vector<int> fds() const;
    void onReadable(int fd);
    void reply(int client, const std::string &text);
    void closeAll();

private:
    struct Client
    {
        std::string in;
        bool waiting = false;
    };
    void processLines(int fd);
    void drop(int fd);

    int m_listenFd = -1;
    std::string m_path;
    std::map<int, Client> m_clients;
    Handler m_handler;
};
