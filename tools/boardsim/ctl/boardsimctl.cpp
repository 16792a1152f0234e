// boardsim-ctl: the control socket for shell scripts, e.g.
//   boardsim-ctl turn 5; boardsim-ctl gpio 18   (prints "out 1")

#include "controlcommands.h"
#include "controlconnection.h"

#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <string>

namespace {

void printUsage(FILE *to)
{
    std::fputs("usage: boardsim-ctl COMMAND [ARG...]\n"
               "Talks to the simulated board that runs this shell ($BOARDSIM_CONTROL).\n",
               to);
    std::fputs(controlUsage().c_str(), to);
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "boardsim-ctl: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    static const option longOptions[] = {{"help", no_argument, nullptr, 'h'},
                                         {nullptr, 0, nullptr, 0}};
    // '+': a command's arguments may look like options ("turn -2").
    opterr = 0;
    switch (getopt_long(argc, argv, "+h", longOptions, nullptr)) {
    case -1:
        break;
    case 'h':
        printUsage(stdout);
        return 0;
    default:
        std::fprintf(stderr, "boardsim-ctl: unknown option '%s'\n", argv[1]);
        printUsage(stderr);
        return 2;
    }
    argc -= optind - 1;
    argv += optind - 1;
    const ControlCommandSpec *command = argc < 2 ? nullptr : findControlCommand(argv[1]);
    const int args = argc - 2;
    if (!command || args < command->minArgs || args > command->maxArgs) {
        if (argc >= 2)
            std::fprintf(stderr, "boardsim-ctl: %s '%s'\n",
                         command ? "wrong number of arguments for" : "unknown command", argv[1]);
        printUsage(stderr);
        return 2;
    }
    std::string line = argv[1];
    for (int i = 2; i < argc; ++i)
        line += std::string(" ") + argv[i];
    ControlConnection conn;
    if (!conn.connectTo(ControlConnection::defaultPath()))
        return fail(conn.lastError());
    std::string reply;
    // A wait may take as long as the caller asked for, and then some.
    int timeoutMs = 15000;
    if (command->waits)
        timeoutMs += std::atoi(argv[argc - 1]);
    if (!conn.request(line, &reply, timeoutMs))
        return fail(reply);
    if (reply.compare(0, 2, "ok") != 0)
        return fail(reply.compare(0, 6, "error ") == 0 ? reply.substr(6) : reply);
    std::string payload = reply.size() > 3 ? reply.substr(3) : std::string();
    if (command->multiLine) {
        long count = std::atol(payload.c_str());
        for (long i = 0; i < count; ++i) {
            std::string entry;
            if (!conn.readLine(&entry))
                return fail(conn.lastError());
            std::printf("%s\n", entry.c_str());
        }
        return 0;
    }
    if (!payload.empty())
        std::printf("%s\n", payload.c_str());
    return 0;
}
