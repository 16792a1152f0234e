// boardsim-ctl: the control socket for shell scripts, e.g.
//   boardsim-ctl turn 5; boardsim-ctl gpio 18   (prints "out 1")

#include "controlconnection.h"

#include <cstdio>
#include <cstdlib>
#include <string>

static const char usage[] =
    "usage: boardsim-ctl COMMAND [ARG...]\n"
    "  turn N | turn-to P | record TYPE CODE VALUE | set-position P | position | pending\n"
    "  ioctl-fails on|off | gone on|off\n"
    "  gpio N (\"out 1\", \"in 0\" or \"unexported\")\n"
    "  set KEY=VALUE | get KEY | scenario | state\n"
    "  transcript [FROM] | transcript-count | clear-transcript\n"
    "  wait-transcript KNOWN_COUNT TIMEOUT_MS | ping\n";

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::string line = argv[1];
    for (int i = 2; i < argc; ++i)
        line += std::string(" ") + argv[i];
    ControlConnection conn;
    if (!conn.connectTo(ControlConnection::defaultPath())) {
        std::fprintf(stderr, "boardsim-ctl: %s\n", conn.lastError().c_str());
        return 1;
    }
    std::string reply;
    // A wait may take as long as the caller asked for, and then some.
    int timeoutMs = 15000;
    if (std::string(argv[1]) == "wait-transcript" && argc > 3)
        timeoutMs += std::atoi(argv[3]);
    if (!conn.request(line, &reply, timeoutMs)) {
        std::fprintf(stderr, "boardsim-ctl: %s\n", reply.c_str());
        return 1;
    }
    if (reply.compare(0, 2, "ok") != 0) {
        std::fprintf(stderr, "boardsim-ctl: %s\n",
                     reply.compare(0, 6, "error ") == 0 ? reply.c_str() + 6 : reply.c_str());
        return 1;
    }
    std::string payload = reply.size() > 3 ? reply.substr(3) : std::string();
    if (std::string(argv[1]) == "transcript") {
        long count = std::atol(payload.c_str());
        for (long i = 0; i < count; ++i) {
            std::string entry;
            if (!conn.readLine(&entry)) {
                std::fprintf(stderr, "boardsim-ctl: %s\n", conn.lastError().c_str());
                return 1;
            }
            std::printf("%s\n", entry.c_str());
        }
        return 0;
    }
    if (!payload.empty())
        std::printf("%s\n", payload.c_str());
    return 0;
}
