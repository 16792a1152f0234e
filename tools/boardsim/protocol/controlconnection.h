#pragma once

#include <string>
#include <vector>

// One connection to the simulated board's control socket. The protocol is one
// text line per request; the reply is one line "ok[ PAYLOAD]" or "error MESSAGE",
// except "transcript", whose "ok N" line is followed by N lines of JSON.
// Plain POSIX so that boardsim-tool and boardsim-ctl stay free of Qt; every
// wait is bounded so that a wedged simulator cannot hang a test.
class ControlConnection
{
public:
    ControlConnection() = default;
    ~ControlConnection();
    ControlConnection(const ControlConnection &) = delete;
    ControlConnection &operator=(const ControlConnection &) = delete;

    // The socket path from $BOARDSIM_CONTROL, empty when not under boardsim.
    static std::string defaultPath();

    bool connectTo(const std::string &path);
    bool isConnected() const { return m_fd >= 0; }
    void close();
    int fd() const { return m_fd; }

    // Sends one request line and returns the first reply line (without its
    // line end). Returns false on a broken connection or time-out; the reply
    // then holds the reason.
    bool request(const std::string &line, std::string *reply, int timeoutMs = 15000);
    // Reads one more line of a multi-line reply.
    bool readLine(std::string *line, int timeoutMs = 15000);

    std::string lastError() const { return m_error; }

    // Arguments travel space-separated; these escape what would break a line.
    static std::string encodeArg(const std::string &arg);
    static std::string decodeArg(const std::string &arg);
    static std::vector<std::string> splitWords(const std::string &line);

private:
    int m_fd = -1;
    std::string m_buffer;
    std::string m_error;
};
