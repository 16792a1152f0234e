// The virtual board's agent: it creates the encoder and the keypad as uinput
// devices, in that order, so that the kernel numbers them event0 and event1,
// tells systemd it is ready (checkmode.service starts after it), and answers
// the simulator's control commands over a virtio-serial port.
//
// The host side multiplexes its clients onto the one port: each request line
// comes as "ID COMMAND ARGS", and every line of its reply goes back as
// "ID LINE". Requests are served one at a time, in order.

#include "board/scenario.h"
#include "boardfacts.h"
#include "controlcommands.h"
#include "controlconnection.h"
#include "panelkeys.h"
#include "writeall.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/input.h>
#include <linux/uinput.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char *const portPath = "/dev/virtio-ports/board.agent";
const char *const boardDir = "/run/board";
const char *const scenarioPath = "/run/board/scenario";
// The board's facts for the guest's tools, which cannot link the library.
const char *const factsPath = "/run/board/facts";
const char *const toolLogPath = "/run/board/tools.log";
const char *const encoderNode = "/dev/input/event0";
constexpr int gpioLines = 160;

using C = ControlCommand;
using Args = std::vector<std::string>;

std::string error(const std::string &message)
{
    return "error " + message.substr(0, 160);
}

// A command of the simulator that has no counterpart on a real kernel.
std::string notHere(const std::string &command, const std::string &why)
{
    return error(command + ": not on the virtual board: " + why);
}

// The failed call's errno, as the reply's reason.
std::string systemError(const char *command)
{
    return error(std::string(command) + ": " + std::generic_category().message(errno));
}

bool parseInt(const std::string &text, int *value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end || errno || v < INT_MIN || v > INT_MAX)
        return false;
    *value = int(v);
    return true;
}

std::string usage(C id)
{
    return error(controlUsageMessage(id));
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The board tools' calls as transcript entries, one JSON object a line, as
// boardsim gives them. The tools log tab-separated fields: milliseconds since
// boot, pid, tool, arguments.
std::vector<std::string> toolLog()
{
    std::vector<std::string> lines;
    std::ifstream in(toolLogPath);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (fields.size() < 3)
            continue;
        nlohmann::ordered_json entry;
        entry["t"] = std::strtoll(fields[0].c_str(), nullptr, 10);
        entry["pid"] = std::atoi(fields[1].c_str());
        entry["op"] = "exec";
        entry["path"] = fields[2];
        entry["args"] = std::vector<std::string>(fields.begin() + 3, fields.end());
        lines.push_back(entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
    return lines;
}

class UinputDevice
{
public:
    bool create(const char *name, uint16_t product, const std::vector<int> &keys, bool axis)
    {
        m_fd = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
        if (m_fd < 0)
            return false;
        if (axis) {
            ioctl(m_fd, UI_SET_EVBIT, EV_ABS);
            ioctl(m_fd, UI_SET_ABSBIT, ABS_X);
            // An endless knob, as the simulated encoder: no limits, no fuzz
            // (the input core would swallow a step within it), no flat zone.
            uinput_abs_setup abs{};
            abs.code = ABS_X;
            abs.absinfo.minimum = INT_MIN;
            abs.absinfo.maximum = INT_MAX;
            ioctl(m_fd, UI_ABS_SETUP, &abs);
        }
        if (!keys.empty()) {
            ioctl(m_fd, UI_SET_EVBIT, EV_KEY);
            for (int k : keys)
                ioctl(m_fd, UI_SET_KEYBIT, k);
        }
        uinput_setup setup{};
        setup.id = {BUS_HOST, 0x0001, product, 0x0100};
        std::snprintf(setup.name, sizeof(setup.name), "%s", name);
        return ioctl(m_fd, UI_DEV_SETUP, &setup) == 0 && ioctl(m_fd, UI_DEV_CREATE) == 0;
    }
    bool post(int type, int code, int value)
    {
        input_event e{};
        e.type = uint16_t(type);
        e.code = uint16_t(code);
        e.value = value;
        return write(m_fd, &e, sizeof(e)) == ssize_t(sizeof(e));
    }
    bool report(int type, int code, int value)
    {
        return post(type, code, value) && post(EV_SYN, SYN_REPORT, 0);
    }

private:
    int m_fd = -1;
};

class Agent
{
public:
    bool start();
    std::string handle(const std::string &line);

private:
    std::string position();
    int encoderPosition(bool *ok);
    std::string gpio(int line);
    std::string state();
    void saveScenario();
    std::string waitTranscript(size_t known, int timeoutMs);

    UinputDevice m_encoder;
    UinputDevice m_keypad;
    Scenario m_scenario;
};

// The board's init scripts export the beep and alarm sound lines before the
// check mode starts, which writes their values without exporting them.
void exportBootLines()
{
    for (const char *line : {"128", "129"}) {
        std::ofstream("/sys/class/gpio/export") << line;
        std::ofstream(std::string("/sys/class/gpio/gpio") + line + "/direction") << "out";
    }
}

bool Agent::start()
{
    mkdir(boardDir, 0755);
    {
        std::ofstream facts(factsPath);
        for (const std::string &line : board::factLines())
            facts << line << '\n';
    }
    exportBootLines();
    saveScenario();
    std::vector<int> keys;
    for (const board::PanelKey &k : board::panelKeys())
        keys.push_back(k.linuxKey);
    if (!m_encoder.create("vm rotary encoder", 0x0001, {}, true)) {
        std::perror("vm-agent: encoder");
        return false;
    }
    // The keypad only after the encoder's node exists: the kernel gives the
    // lowest free number, and the encoder must own event0.
    for (int i = 0; i < 500 && access(encoderNode, F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!m_keypad.create("vm front-panel keypad", 0x0002, keys, false)) {
        std::perror("vm-agent: keypad");
        return false;
    }
    for (int i = 0; i < 500 && access("/dev/input/event1", F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
}

int Agent::encoderPosition(bool *ok)
{
    input_absinfo abs{};
    const int fd = open(encoderNode, O_RDONLY | O_CLOEXEC);
    *ok = fd >= 0 && ioctl(fd, EVIOCGABS(ABS_X), &abs) == 0;
    if (fd >= 0)
        close(fd);
    return abs.value;
}

// What the kernel's evdev answers, not what the agent last sent.
std::string Agent::position()
{
    bool ok = false;
    const int p = encoderPosition(&ok);
    return ok ? "ok " + std::to_string(p) : systemError("position");
}

std::string Agent::gpio(int line)
{
    const std::string dir = "/sys/class/gpio/gpio" + std::to_string(line);
    if (access(dir.c_str(), F_OK) != 0)
        return "unexported";
    return readFile(dir + "/direction") + " " + readFile(dir + "/value");
}

std::string Agent::state()
{
    bool ok = false;
    nlohmann::ordered_json state;
    state["position"] = encoderPosition(&ok);
    auto &lines = state["gpio"] = nlohmann::ordered_json::object();
    for (int i = 0; i < gpioLines; ++i) {
        const std::string g = gpio(i);
        if (g == "unexported")
            continue;
        const size_t blank = g.find(' ');
        auto &line = lines[std::to_string(i)];
        line["direction"] = g.substr(0, blank);
        line["value"] = g.substr(blank + 1);
    }
    state["scenario"] = m_scenario.values();
    auto &usb = state["usb"];
    usb["switched"] = !readFile("/sys/kernel/config/usb_gadget/ioc/UDC").empty();
    usb["mounted"] = readFile("/proc/mounts").find(" /run/media/sd") != std::string::npos;
    state["transcriptCount"] = toolLog().size();
    // A tool may have been given any bytes: shown replaced, never a throw.
    return state.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The board's tools read the scenario from here at every call.
void Agent::saveScenario()
{
    const std::string tmp = std::string(scenarioPath) + ".new";
    {
        std::ofstream out(tmp);
        for (const auto &kv : m_scenario.values())
            out << kv.first << '=' << kv.second << '\n';
    }
    std::rename(tmp.c_str(), scenarioPath);
}

std::string Agent::waitTranscript(size_t known, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t count = toolLog().size();
    while (count == known && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        count = toolLog().size();
    }
    return "ok " + std::to_string(count);
}

std::string Agent::handle(const std::string &line)
{
    Args a = ControlConnection::splitWords(line);
    if (a.empty())
        return error("empty request");
    const ControlCommandSpec *command = findControlCommand(a[0]);
    if (!command)
        return error("unknown command '" + a[0].substr(0, 40) + "'");
    a.erase(a.begin());
    if (int(a.size()) < command->minArgs || int(a.size()) > command->maxArgs)
        return usage(command->id);
    int n = 0, m = 0, k = 0;
    switch (command->id) {
    case C::Ping:
        return "ok boardsim";
    case C::Turn: {
        if (!parseInt(a[0], &n) || n < -1000000 || n > 1000000)
            return usage(C::Turn);
        bool ok = false;
        int p = encoderPosition(&ok);
        for (int i = 0; i != n; i += n < 0 ? -1 : 1) {
            p = int(uint32_t(p) + (n < 0 ? UINT32_MAX : 1u));
            m_encoder.report(EV_ABS, ABS_X, p);
        }
        return "ok";
    }
    case C::TurnTo:
        if (!parseInt(a[0], &n))
            return usage(C::TurnTo);
        m_encoder.report(EV_ABS, ABS_X, n);
        return "ok";
    case C::Record:
        if (!parseInt(a[0], &n) || !parseInt(a[1], &m) || !parseInt(a[2], &k))
            return usage(C::Record);
        return m_encoder.post(n, m, k) ? "ok" : systemError("record");
    case C::SetPosition:
        return notHere("set-position",
                       "a uinput axis moves only with a record, which every reader sees");
    case C::Position:
        return position();
    case C::Pending:
        return notHere("pending", "each reader of a kernel node has its own queue");
    case C::IoctlFails:
        return notHere("ioctl-fails", "the kernel's evdev answers every ioctl itself");
    case C::Gone:
        return notHere("gone", "the encoder is a uinput device that stays plugged in");
    case C::Gpio:
        if (!parseInt(a[0], &n) || n < 0 || n >= gpioLines)
            return error("no such line " + a[0]);
        return "ok " + gpio(n);
    case C::Set: {
        std::string why;
        if (!m_scenario.setAssignment(ControlConnection::decodeArg(a[0]), &why))
            return error(why);
        saveScenario();
        return "ok";
    }
    case C::Get: {
        const std::string key = ControlConnection::decodeArg(a[0]);
        const std::string v = m_scenario.get(key);
        return v.empty() ? error("unknown scenario key '" + key + "'") : "ok " + v;
    }
    case C::Scenario:
        return "ok " + m_scenario.describe();
    case C::State:
        return "ok " + state();
    case C::Facts: {
        const std::vector<std::string> lines = board::factLines();
        std::string out = "ok " + std::to_string(lines.size());
        for (const std::string &line : lines)
            out += "\n" + line;
        return out;
    }
    case C::Transcript: {
        if (!a.empty() && (!parseInt(a[0], &n) || n < 0))
            return error("transcript: bad start index");
        const std::vector<std::string> log = toolLog();
        const size_t first = std::min(size_t(n), log.size());
        std::string out = "ok " + std::to_string(log.size() - first);
        for (size_t i = first; i < log.size(); ++i)
            out += "\n" + log[i];
        return out;
    }
    case C::TranscriptCount:
        return "ok " + std::to_string(toolLog().size());
    case C::ClearTranscript:
        return truncate(toolLogPath, 0) == 0 || errno == ENOENT ? "ok"
                                                                : systemError("clear-transcript");
    case C::WaitTranscript:
        if (!parseInt(a[0], &n) || !parseInt(a[1], &m) || n < 0 || m < 0)
            return usage(C::WaitTranscript);
        return waitTranscript(size_t(n), m);
    case C::Key: {
        std::string why;
        const PanelKeyRequest request = panelKeyRequest(a, &why);
        if (!request.key)
            return error(why);
        if (request.press)
            m_keypad.report(EV_KEY, request.key->linuxKey, 1);
        if (request.release)
            m_keypad.report(EV_KEY, request.key->linuxKey, 0);
        return "ok";
    }
    case C::Exec:
    case C::Act:
        return notHere(command->name, "the board's tools run in the guest and need no answer");
    }
    return error("no handler");
}

// Tells systemd that the input nodes exist (Type=notify), without libsystemd.
void notifyReady()
{
    const char *path = std::getenv("NOTIFY_SOCKET");
    if (!path || !*path)
        return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path);
    if (path[0] == '@')
        addr.sun_path[0] = '\0';
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const char ready[] = "READY=1";
    sendto(fd, ready, sizeof(ready) - 1, 0, reinterpret_cast<sockaddr *>(&addr),
           socklen_t(offsetof(sockaddr_un, sun_path) + std::strlen(path)));
    close(fd);
}

int run()
{
    Agent agent;
    if (!agent.start())
        return 1;
    notifyReady();
    // udev names the port a moment after the device appears.
    int port = -1;
    for (int i = 0; i < 300 && (port = open(portPath, O_RDWR | O_CLOEXEC)) < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (port < 0) {
        std::perror("vm-agent: virtio port");
        // The input devices live as long as this process.
        for (;;)
            pause();
    }
    std::string in;
    char buf[4096];
    for (;;) {
        pollfd p{port, POLLIN, 0};
        poll(&p, 1, -1);
        const ssize_t n = read(port, buf, sizeof(buf));
        if (n <= 0) {
            // No host on the other end: wait for one to connect.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        in.append(buf, size_t(n));
        for (size_t eol; (eol = in.find('\n')) != std::string::npos;) {
            std::string line = in.substr(0, eol);
            in.erase(0, eol + 1);
            const size_t blank = line.find(' ');
            const std::string id = line.substr(0, blank);
            const std::string reply =
                agent.handle(blank == std::string::npos ? "" : line.substr(blank + 1));
            std::string out;
            std::istringstream lines(reply);
            for (std::string l; std::getline(lines, l);)
                out.append(id).append(" ").append(l).append("\n");
            writeAll(port, out);
        }
    }
}

} // namespace

int main()
{
    try {
        return run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vm-agent: %s\n", e.what());
        return 1;
    }
}
