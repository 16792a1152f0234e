// boardsim-tool: plays usbswitch, iocboot or flash (by the name it is run
// under) on the simulated board, asking boardsim how to behave.

#include "boardtools.h"
#include "controlconnection.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string g_name;

void say(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

// Waits up to `ms` (forever when negative) for boardsim to go away; true
// when it did. A hanging or slow tool must not outlive the board.
bool boardGone(int fd, int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int left = -1;
        if (ms >= 0) {
            left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           deadline - std::chrono::steady_clock::now())
                           .count());
            if (left <= 0)
                return false;
        }
        pollfd pfd{fd, POLLIN, 0};
        int r = poll(&pfd, 1, left);
        if (r < 0 && errno == EINTR)
            continue;
        if (r > 0) {
            char c;
            if (read(fd, &c, 1) <= 0)
                return true;
        }
    }
}

// The identification with its first letter in lower case and its digits in upper case.
std::string otherCase(std::string text)
{
    text[0] = char(std::tolower(text[0]));
    for (size_t i = text.find("0x") + 2; i < text.size(); ++i)
        text[i] = char(std::toupper(text[i]));
    return text;
}

int printFlash(const std::string &answer)
{
    const std::string good = std::string(board::FlashIdentification) + "\n";
    if (answer == "good") {
        say(1, good);
    } else if (answer == "case") {
        say(1, otherCase(good));
    } else if (answer == "banner") {
        say(1, "Flash utility 2.1\n" + good);
    } else if (answer == "empty") {
        say(1, "\n");
    } else if (answer == "pieces") {
        // The answer arrives in two reads, as from a slow serial link.
        const size_t half = good.find("0x") + 2;
        say(1, good.substr(0, half));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        say(1, good.substr(half));
    } else if (answer == "chatter") {
        // A tool stuck in a loop: the answer over and over, until its reader goes.
        const std::string &line = good;
        while (write(1, line.data(), line.size()) > 0 || errno == EINTR) {
        }
        return 1;
    } else if (answer == "silent") {
        say(2, "flash: no answer from the chip\n");
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string self = argv[0];
    g_name = self.substr(self.find_last_of('/') + 1);
    // "boardsim-tool NAME ARG..." plays NAME too, for use without the links.
    if (g_name == "boardsim-tool" && !args.empty()) {
        g_name = args.front();
        args.erase(args.begin());
    }

    ControlConnection conn;
    if (!conn.connectTo(ControlConnection::defaultPath())) {
        say(2, g_name + ": " + conn.lastError() + "\n");
        return 127;
    }
    std::string encoded;
    for (const std::string &a : args)
        encoded += " " + ControlConnection::encodeArg(a);
    std::string reply;
    if (!conn.request("exec " + std::to_string(getpid()) + " " + g_name + encoded, &reply) ||
        reply.compare(0, 3, "ok ") != 0) {
        say(2, g_name + ": " + reply + "\n");
        return 127;
    }
    std::vector<std::string> words = ControlConnection::splitWords(reply);
    const std::string mode = words.size() > 1 ? words[1] : "ok";
    const int delayMs = words.size() > 2 ? std::atoi(words[2].c_str()) : 0;

    if (mode == "missing") {
        say(2, g_name + ": not installed on this board\n");
        return 127;
    }
    if (mode == "fail") {
        say(2, g_name + ": error: the device does not respond\n");
        return 1;
    }
    if (mode == "hang") {
        boardGone(conn.fd(), -1);
        return 1;
    }
    if (mode == "slow" && boardGone(conn.fd(), delayMs))
        return 1;

    if (!conn.request("act " + g_name + encoded, &reply)) {
        say(2, g_name + ": " + reply + "\n");
        return 1;
    }
    if (reply.compare(0, 2, "ok") != 0) {
        if (g_name == board::Flash)
            say(2, "usage: " + board::commandLine(board::FlashRead) + "\n");
        else
            say(2, "usage: " + g_name + " -i|-f\n");
        return 2;
    }
    if (g_name == board::Flash)
        return printFlash(reply.size() > 3 ? reply.substr(3) : std::string());
    const bool in = args == board::arguments(board::UsbSwitchIn);
    if (g_name == board::UsbSwitch)
        say(1, in ? "USB switched to the IOC\n" : "USB switched to the front port\n");
    else
        say(1, in ? "IOC started in its boot loader\n" : "IOC started its firmware\n");
    return 0;
}
