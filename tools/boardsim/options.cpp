#include "options.h"

#include "scenariowords.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace {

// `text` in lines that end by column 80 after an indent of `indent` columns,
// broken after a '|' or a blank.
std::string wrapped(const std::string &text, size_t indent)
{
    const size_t width = 80 - indent;
    std::string out;
    size_t start = 0;
    while (text.size() - start > width) {
        size_t cut = text.find_last_of("| ", start + width - 1);
        if (cut == std::string::npos || cut < start)
            cut = start + width - 1;
        std::string line = text.substr(start, cut + 1 - start);
        if (line.back() == ' ')
            line.pop_back();
        out += line + "\n" + std::string(indent, ' ');
        start = cut + 1;
    }
    return out + text.substr(start) + "\n";
}

} // namespace

bool parseInt(const std::string &text, long low, long high, long *value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    *value = v;
    return true;
}

std::string Options::usage()
{
    return "usage: boardsim [OPTION...] -- COMMAND [ARG...]\n"
           "Runs COMMAND on a simulated board: sysfs GPIO at /sys/class/gpio, the rotary\n"
           "encoder at /dev/input/event0, the front-panel keypad at /dev/input/event1,\n"
           "the IOC's disk under /run/media and fake usbswitch, iocboot and flash tools\n"
           "first on PATH. The control socket is in $BOARDSIM_CONTROL (see boardsim-ctl).\n"
           "\n"
           "  --no-gpio              /sys/class/gpio is an empty directory\n"
           "  --no-gpio-export       /sys/class/gpio/export is missing\n"
           "  --refuse-export N[,N]  exporting these lines fails with EINVAL\n"
           "  --no-evdev             /dev/input/event0 does not exist\n"
           "  --evdev-ioctl-fails    ioctls on event0 fail with ENOTTY\n"
           "  --position N           the encoder's position at start (default 0)\n"
           "  --compat32-evdev       readers of /dev/input are 32-bit processes (qemu-arm):\n"
           "                         16-byte records, bit masks in 32-bit longs\n"
           "  --no-run-media         there is no /run/media\n"
           "  --no-pidfd             COMMAND sees no pidfd waitid and cannot kill(-1):\n"
           "                         for qemu-user 7.2, whose clone lacks CLONE_PIDFD\n"
           "  --set KEY=VALUE        " +
           wrapped("scenario: " + scenarioUsage(), 25) +
           "  --transcript FILE      also write every transcript entry (JSON lines) to FILE;\n"
           "                         memory holds only the newest 4 MiB of them\n"
           "\n"
           "COMMAND runs in its own PID namespace: nothing it starts outlives boardsim.\n"
           "Exits with COMMAND's status (128+N when killed by signal N), 77 when this\n"
           "machine cannot host the simulation, 2 on usage errors, 74 when FILE could\n"
           "not be written (the board stops then).\n";
}

bool Options::parse(int argc, char **argv, std::string *error)
{
    int i = 1;
    auto value = [&](const std::string &name, std::string *out) {
        if (i + 1 >= argc) {
            *error = name + " needs a value";
            return false;
        }
        *out = argv[++i];
        return true;
    };
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        std::string v;
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "-h" || arg == "--help") {
            help = true;
            return true;
        } else if (arg == "--no-gpio") {
            noGpio = true;
        } else if (arg == "--no-gpio-export") {
            noGpioExport = true;
        } else if (arg == "--no-evdev") {
            noEvdev = true;
        } else if (arg == "--evdev-ioctl-fails") {
            evdevIoctlFails = true;
        } else if (arg == "--compat32-evdev") {
            compat32Evdev = true;
        } else if (arg == "--no-run-media") {
            noRunMedia = true;
        } else if (arg == "--no-pidfd") {
            noPidfd = true;
        } else if (arg == "--refuse-export") {
            if (!value(arg, &v))
                return false;
            std::stringstream list(v);
            std::string item;
            while (std::getline(list, item, ',')) {
                long line = 0;
                if (!parseInt(item, 0, 100000, &line)) {
                    *error = "--refuse-export: not a line number: '" + item + "'";
                    return false;
                }
                refusedExports.push_back(int(line));
            }
        } else if (arg == "--position") {
            long pos = 0;
            if (!value(arg, &v))
                return false;
            if (!parseInt(v, -2147483647L - 1, 2147483647L, &pos)) {
                *error = "--position: not a number: '" + v + "'";
                return false;
            }
            initialPosition = int(pos);
        } else if (arg == "--set") {
            if (!value(arg, &v))
                return false;
            assignments.push_back(v);
        } else if (arg == "--transcript") {
            if (!value(arg, &transcriptFile))
                return false;
        } else if (!arg.empty() && arg[0] == '-') {
            *error = "unknown option " + arg;
            return false;
        } else {
            break; // the command starts here
        }
    }
    for (; i < argc; ++i)
        command.push_back(argv[i]);
    if (command.empty()) {
        *error = "no command given";
        return false;
    }
    return true;
}
