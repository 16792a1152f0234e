// usbswitch, iocboot and flash of the virtual board: one static program under
// three names in /usr/local/bin, where the check mode finds them through PATH,
// and `board-tool setup` at boot. Each call goes to the tool log (the agent's
// transcript) and to the journal. How a tool behaves follows the scenario the
// guest agent keeps in /run/board/scenario, with the simulator's keys and
// values. Native because under emulation each process a shell script forks
// costs a second, and the check mode's wait for the IOC starts before its
// first tool.

#include "board/scenario.h"
#include "boardtools.h"
#include "writeall.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

const char *const boardDir = "/run/board";
const char *const scenarioPath = "/run/board/scenario";
const char *const factsPath = "/run/board/facts";
const char *const toolLogPath = "/run/board/tools.log";
// There while a late IOC is still to come; switching back takes it away.
const char *const pendingPath = "/run/board/ioc-pending";
const std::string gadget = "/sys/kernel/config/usb_gadget/ioc";
const std::string function = gadget + "/functions/mass_storage.0";
const std::string udcFile = gadget + "/UDC";
const char *const udcDir = "/sys/class/udc";
const char *const diskImage = "/var/lib/board/ioc.img";
// Below the check mode's 30 s for a tool that hangs, so that a switch that
// never settles ends with our message rather than its kill. Beside two busy
// loops on a busy host the mount came 16 s after the call.
constexpr int settleMs = 25000;

std::string g_name = "board-tool";

// To standard error and the journal: a late bind runs with its output gone.
bool complain(const std::string &what)
{
    writeAll(2, g_name + ": " + what + "\n");
    syslog(LOG_ERR, "%s: %s", g_name.c_str(), what.c_str());
    return false;
}

bool failed(const std::string &what)
{
    return complain(what + ": " + std::generic_category().message(errno));
}

bool readFile(const std::string &path, std::string *text)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    text->clear();
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0 || (n < 0 && errno == EINTR))
        text->append(buf, size_t(n > 0 ? n : 0));
    const int readErrno = errno;
    close(fd);
    errno = readErrno;
    return n == 0;
}

// One write, checked: sysfs and configfs take an attribute in one piece.
bool writeFile(const std::string &path, const std::string &text, int flags = 0)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0644);
    if (fd < 0)
        return failed("cannot open " + path);
    const bool written = writeAll(fd, text);
    const int writeErrno = errno;
    if (close(fd) != 0 || !written) {
        errno = written ? errno : writeErrno;
        return failed("cannot write " + path);
    }
    return true;
}

bool makeDir(const std::string &path)
{
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST || failed("cannot create " + path);
}

void sleepMs(long ms)
{
    timespec left{ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

long long msSinceBoot()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return now.tv_sec * 1000LL + (now.tv_nsec + 500000) / 1000000;
}

// The IOC's flash disk as a USB mass-storage gadget on dummy_hcd: bound, the
// kernel's usb-storage finds it as sda with its FAT partition sda1, which
// udev's rule mounts read-only under /run/media. The link into the
// configuration is made last, so its presence means a whole gadget.
bool makeGadget()
{
    const std::string link = gadget + "/configs/c.1/mass_storage.0";
    struct stat st;
    if (lstat(link.c_str(), &st) == 0)
        return true;
    const std::string lun = function + "/lun.0";
    // Read-only on both sides: the gadget never writes the backing file. The
    // kernel refuses "ro" once a file is open, hence before "file".
    return makeDir(gadget) && makeDir(gadget + "/strings/0x409") &&
           makeDir(gadget + "/configs/c.1") && makeDir(function) &&
           writeFile(gadget + "/idVendor", "0x1d6b") &&
           writeFile(gadget + "/idProduct", "0x0104") &&
           writeFile(gadget + "/strings/0x409/product", "IOC") && writeFile(lun + "/ro", "1") &&
           writeFile(lun + "/removable", "1") && writeFile(lun + "/file", diskImage) &&
           (symlink(function.c_str(), link.c_str()) == 0 || failed("cannot link " + link));
}

std::string boundUdc()
{
    std::string udc;
    readFile(udcFile, &udc);
    while (!udc.empty() && udc.back() == '\n')
        udc.pop_back();
    return udc;
}

bool bind()
{
    if (!boundUdc().empty())
        return true;
    // The first controller by name, as dummy_hcd gives one.
    std::string udc;
    if (DIR *dir = opendir(udcDir)) {
        while (const dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name[0] != '.' && (udc.empty() || name < udc))
                udc = name;
        }
        closedir(dir);
    }
    if (udc.empty())
        return complain(std::string("no USB device controller in ") + udcDir);
    return writeFile(udcFile, udc);
}

// The IOC's partition mounted where the check mode looks, by the name of its
// block device.
bool diskMounted()
{
    std::string table;
    if (!readFile("/proc/self/mountinfo", &table))
        return false;
    // The fifth field of a line is the mount point.
    const std::string where = std::string(" ") + board::UsbMountDir + "sd";
    for (size_t start = 0; start < table.size();) {
        const size_t end = std::min(table.find('\n', start), table.size());
        size_t field = start;
        for (int i = 0; i < 4 && field < end; ++i)
            field = table.find(' ', field + 1);
        if (field < end && table.compare(field, where.size(), where) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// Until the disk is mounted (or gone), at most `ms`. The kernel marks the
// mount table readable with POLLPRI at each change.
bool waitDisk(bool mounted, int ms)
{
    const int fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    const long long until = msSinceBoot() + ms;
    bool done;
    while (!(done = diskMounted() == mounted) && msSinceBoot() < until) {
        pollfd p{fd, POLLPRI, 0};
        if (fd < 0 || poll(&p, 1, 200) < 0)
            sleepMs(200);
    }
    if (fd >= 0)
        close(fd);
    return done;
}

// The IOC comes `delayMs` after the call, unless it is switched back before.
// The pending file names the call, so that a bind left from an earlier call
// cannot take a later one's place.
bool bindLater(int delayMs)
{
    const std::string call = std::to_string(getpid());
    if (!writeFile(pendingPath, call, O_CREAT | O_TRUNC))
        return false;
    const pid_t pid = fork();
    if (pid < 0)
        return failed("cannot fork");
    if (pid > 0)
        return true;
    // Nothing of the caller's: a shell reading our output would wait for us.
    setsid();
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd < 3; ++fd)
        dup2(null, fd);
    sleepMs(delayMs);
    std::string pending;
    const bool ours = readFile(pendingPath, &pending) && pending == call;
    _exit(ours && unlink(pendingPath) == 0 && !bind() ? 1 : 0);
}

bool switchIn(const Scenario &scenario)
{
    const std::string ioc = scenario.get("ioc");
    if (ioc == "absent")
        return true;
    if (!makeGadget())
        return false;
    if (ioc == "late")
        return bindLater(scenario.getInt("ioc-delay-ms"));
    // The disk of the last switch may still be on its way out: the kernel drops
    // it, and systemd its mount, a while after the unbind.
    if (boundUdc().empty() && !waitDisk(false, settleMs))
        complain("the last IOC disk is still mounted");
    // Back once the automounter has mounted the disk: under emulation the
    // kernel and systemd take seconds for it, which the check mode's wait
    // measured against a real board's would count as the program's.
    if (!bind())
        return false;
    return waitDisk(true, settleMs) ||
           complain("the IOC's disk not mounted under " + std::string(board::UsbMountDir) +
                    " after " + std::to_string(settleMs / 1000) + " s");
}

bool switchBack()
{
    if (unlink(pendingPath) != 0 && errno != ENOENT)
        return failed(std::string("cannot remove ") + pendingPath);
    if (access(gadget.c_str(), F_OK) != 0 || boundUdc().empty())
        return true;
    return writeFile(udcFile, "\n");
}

// The identification with its first letter in lower case and its digits in upper case.
std::string otherCase(std::string text)
{
    if (!text.empty())
        text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    const size_t digits = text.find("0x");
    for (size_t i = digits == std::string::npos ? text.size() : digits + 2; i < text.size(); ++i)
        text[i] = char(std::toupper(static_cast<unsigned char>(text[i])));
    return text;
}

// The answer as the board's facts give it (the agent writes them at boot).
bool identification(std::string *text)
{
    std::string facts;
    const std::string key = "\nflash_identification=";
    if (!readFile(factsPath, &facts))
        return failed(std::string("cannot read ") + factsPath);
    facts.insert(0, "\n");
    const size_t at = facts.find(key);
    if (at == std::string::npos)
        return complain("no " + key.substr(1) + " in " + factsPath);
    const size_t start = at + key.size();
    *text = facts.substr(start, facts.find('\n', start) - start);
    return true;
}

bool readFlash(const std::string &answer)
{
    std::string good;
    if (!identification(&good))
        return false;
    good += "\n";
    if (answer == "case")
        return writeAll(1, otherCase(good));
    if (answer == "banner")
        return writeAll(1, "Flash utility 2.1\n" + good);
    if (answer == "empty")
        return writeAll(1, "\n");
    if (answer == "pieces") {
        // In two reads, split after "0x", as from a slow serial link.
        const size_t half = std::min(good.find("0x") + 2, good.size());
        const bool first = writeAll(1, good.substr(0, half));
        sleepMs(300);
        return writeAll(1, good.substr(half)) && first;
    }
    if (answer == "silent") {
        writeAll(2, "flash: no answer from the chip\n");
        return true;
    }
    return writeAll(1, good);
}

// One call a line, its fields split by tabs: milliseconds since boot (the
// transcript's clock), pid, tool, arguments. The agent makes JSON of it. One
// write in append mode, so that calls at once never mix their lines.
void logCall(const std::vector<std::string> &args)
{
    std::string line =
        std::to_string(msSinceBoot()) + "\t" + std::to_string(getpid()) + "\t" + g_name;
    std::string words = g_name;
    for (const std::string &a : args) {
        line += "\t" + a;
        words += " " + a;
    }
    if (mkdir(boardDir, 0755) != 0 && errno != EEXIST)
        failed(std::string("cannot create ") + boardDir);
    writeFile(toolLogPath, line + "\n", O_CREAT | O_APPEND);
    syslog(LOG_NOTICE, "%s", words.c_str());
}

// A key's last line wins.
Scenario readScenario()
{
    Scenario scenario;
    std::string text, why;
    if (!readFile(scenarioPath, &text))
        return scenario;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        if (!line.empty() && !scenario.setAssignment(line, &why))
            complain(std::string(scenarioPath) + ": " + why);
        start = end + 1;
    }
    return scenario;
}

int run(const std::vector<std::string> &args)
{
    // At boot (board-usb.service), so that a switch costs only the bind.
    if (g_name == "board-tool" && args == std::vector<std::string>{"setup"})
        return makeGadget() ? 0 : 1;
    logCall(args);
    const Scenario scenario = readScenario();
    const std::string mode = scenario.get("tool." + g_name);
    if (mode == "missing") {
        complain("not found");
        return 127;
    }
    if (mode == "fail")
        return 1;
    if (mode == "hang") {
        for (;;)
            pause();
    }
    if (mode == "slow")
        sleepMs(scenario.getInt("tool-delay-ms"));

    const auto is = [&args](const board::ToolCommand &command) {
        return g_name == command.program && args == board::arguments(command);
    };
    if (is(board::UsbSwitchIn))
        return switchIn(scenario) ? 0 : 1;
    if (is(board::UsbSwitchBack))
        return switchBack() ? 0 : 1;
    if (is(board::IocBootIn) || is(board::IocBootBack))
        return 0;
    if (is(board::FlashRead))
        return readFlash(scenario.get("flash")) ? 0 : 1;
    writeAll(2, "usage: usbswitch -i|-f, iocboot -i|-f, flash -o rdid\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 0) {
        const char *slash = std::strrchr(argv[0], '/');
        g_name = slash ? slash + 1 : argv[0];
    }
    openlog("board-tool", 0, LOG_USER);
    try {
        return run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    } catch (const std::exception &e) {
        complain(e.what());
        return 1;
    }
}
