// The control socket's server: what one client sends is cut into request
// lines and each complete line gets one reply, in order, whether the bytes
// arrive in one piece or many and whether a reply comes at once or later.
// Input: one byte that sets the size of the pieces the client sends (1 to
// 256 bytes), then what it sends. Lines that start with 'w' are answered on a
// later turn of the loop, as a turn or a transcript wait is.
#include "control/controlserver.h"
#include "fuzzcheck.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

struct Harness
{
    ControlServer server;
    const std::string path = "/tmp/boardsim-fuzz-" + std::to_string(getpid()) + ".sock";
    std::deque<std::pair<int, std::string>> later;

    Harness()
    {
        std::string error;
        if (!server.listen(path, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        server.setHandler([this](int client, const std::string &line, std::string *reply) {
            const std::string answer = std::to_string(line.size());
            if (!line.empty() && line[0] == 'w') {
                later.emplace_back(client, "later " + answer);
                return false;
            }
            *reply = "ok " + answer;
            return true;
        });
    }
    ~Harness() { unlink(path.c_str()); }

    // One turn of the simulator's loop, as far as the control socket goes.
    void turn()
    {
        std::vector<pollfd> fds = server.pollFds();
        if (::poll(fds.data(), fds.size(), 0) > 0) {
            for (const pollfd &p : fds) {
                if (p.revents)
                    server.onEvents(p);
            }
        }
        server.onTimer();
        while (!later.empty()) {
            const auto reply = later.front();
            later.pop_front();
            server.reply(reply.first, reply.second);
        }
    }
};

void readAll(int fd, std::string *into, bool *ended)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            into->append(buffer, size_t(n));
            continue;
        }
        if (n == 0)
            *ended = true;
        return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Harness harness;
    if (size == 0)
        return 0;
    const size_t piece = size_t(data[0]) + 1;
    const std::string sent(reinterpret_cast<const char *>(data + 1), size - 1);

    // The replies the server owes: one per complete line.
    std::vector<std::string> expected;
    for (size_t start = 0, nl; (nl = sent.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string line = sent.substr(start, nl - start);
        if (line.size() > ControlServer::maxLineBytes)
            return 0; // refused as too long: not what this target is after
        const std::string answer = std::to_string(line.size());
        expected.push_back((!line.empty() && line[0] == 'w' ? "later " : "ok ") + answer);
    }

    const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", harness.path.c_str());
    FUZZ_CHECK(::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);

    std::string received;
    bool ended = false;
    for (size_t at = 0; at < sent.size(); at += piece) {
        const size_t n = std::min(piece, sent.size() - at);
        FUZZ_CHECK(::send(client, sent.data() + at, n, MSG_NOSIGNAL) == ssize_t(n));
        harness.turn();
        readAll(client, &received, &ended);
    }
    ::shutdown(client, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ended) {
        // A server that neither answers nor hangs up leaves the client waiting for ever.
        FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
        harness.turn();
        readAll(client, &received, &ended);
    }
    ::close(client);

    std::vector<std::string> replies;
    for (size_t start = 0, nl; start < received.size(); start = nl + 1) {
        nl = received.find('\n', start);
        FUZZ_CHECK(nl != std::string::npos); // every reply is a whole line
        replies.push_back(received.substr(start, nl - start));
    }
    FUZZ_CHECK(replies == expected);
    // The connection is forgotten once it has closed.
    harness.turn();
    FUZZ_CHECK(harness.server.clientCount() == 0);
    return 0;
}
