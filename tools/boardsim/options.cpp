#include "options.h"

#include "scenariowords.h"

#include <cerrno>
#include <cstdlib>
#include <getopt.h>
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
    enum Id
    {
        RefuseExport = 256,
        Position,
        Set,
        TranscriptFile
    };
    const option longOptions[] = {{"help", no_argument, nullptr, 'h'},
                                  {"no-gpio", no_argument, &noGpio, 1},
                                  {"no-gpio-export", no_argument, &noGpioExport, 1},
                                  {"refuse-export", required_argument, nullptr, RefuseExport},
                                  {"no-evdev", no_argument, &noEvdev, 1},
                                  {"evdev-ioctl-fails", no_argument, &evdevIoctlFails, 1},
                                  {"position", required_argument, nullptr, Position},
                                  {"compat32-evdev", no_argument, &compat32Evdev, 1},
                                  {"no-run-media", no_argument, &noRunMedia, 1},
                                  {"no-pidfd", no_argument, &noPidfd, 1},
                                  {"set", required_argument, nullptr, Set},
                                  {"transcript", required_argument, nullptr, TranscriptFile},
                                  {nullptr, 0, nullptr, 0}};
    // '+': the command's own options start at its first word; ':': errors
    // are reported here, in boardsim's words, not printed by getopt.
    optind = 0;
    opterr = 0;
    int id;
    while ((id = getopt_long(argc, argv, "+:h", longOptions, nullptr)) != -1) {
        const std::string value = optarg ? optarg : "";
        long number = 0;
        switch (id) {
        case 0: // a switch, set through its flag
            break;
        case 'h':
            help = true;
            return true;
        case RefuseExport: {
            std::stringstream list(value);
            std::string item;
            while (std::getline(list, item, ',')) {
                if (!parseInt(item, 0, 100000, &number)) {
                    *error = "--refuse-export: not a line number: '" + item + "'";
                    return false;
                }
                refusedExports.push_back(int(number));
            }
            break;
        }
        case Position:
            if (!parseInt(value, -2147483647L - 1, 2147483647L, &number)) {
                *error = "--position: not a number: '" + value + "'";
                return false;
            }
            initialPosition = int(number);
            break;
        case Set:
            assignments.push_back(value);
            break;
        case TranscriptFile:
            transcriptFile = value;
            break;
        case ':':
            *error = std::string(argv[optind - 1]) + " needs a value";
            return false;
        default:
            *error = "unknown option " +
                     (optopt ? std::string("-") + char(optopt) : std::string(argv[optind - 1]));
            return false;
        }
    }
    command.assign(argv + optind, argv + argc);
    if (command.empty()) {
        *error = "no command given";
        return false;
    }
    return true;
}
