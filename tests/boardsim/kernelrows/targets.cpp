#include "target.h"

#include "controlconnection.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

class BoardsimTarget : public Target
{
public:
    bool setUp() override
    {
        std::string state;
        if (!m_control.connectTo(ControlConnection::defaultPath()) || !ask("state", &state))
            return fail("no boardsim control socket: " + m_control.lastError());
        // The state is one JSON object; only this number is wanted from it.
        const char key[] = "\"evdevRecordSize\":";
        const size_t at = state.find(key);
        recordSize = at == std::string::npos ? 0 : std::atoi(state.c_str() + at + sizeof(key) - 1);
        if (recordSize != 24 && recordSize != 16)
            return fail("boardsim's state names no evdev record size");
        description =
            "boardsim's FUSE node " + node() + " and GPIO files, driven by its control socket";
        deviceName = "boardsim rotary encoder";
        throughFuse = true;
        return true;
    }

    std::string node() const override { return "/dev/input/event0"; }
    bool turn(int steps) override { return ask("turn " + std::to_string(steps)); }
    bool turnTo(int position) override { return ask("turn-to " + std::to_string(position)); }
    bool setGone(bool gone) override { return ask(gone ? "gone on" : "gone off"); }

private:
    bool ask(const std::string &request, std::string *payload = nullptr)
    {
        std::string reply;
        if (!m_control.request(request, &reply) || reply.compare(0, 2, "ok") != 0)
            return fail(request + ": " + reply);
        if (payload)
            *payload = reply.size() > 3 ? reply.substr(3) : std::string();
        return true;
    }

    ControlConnection m_control;
};

// The encoder's capabilities as the board's driver and the virtual board's agent declare
// them, on a device of this program's own: the check mode's event0 never sees a row.
class UinputTarget : public Target
{
public:
    UinputTarget()
    {
        deviceName = "kernel-rows rotary encoder";
        recordSize = int(sizeof(input_event));
    }
    ~UinputTarget() override { destroy(); }

    bool setUp() override
    {
        m_fd = ::open("/dev/uinput", O_WRONLY | O_CLOEXEC);
        if (m_fd < 0)
            return fail(std::string("/dev/uinput: ") + std::generic_category().message(errno));
        uinput_abs_setup abs{};
        abs.code = ABS_X;
        abs.absinfo.minimum = INT_MIN;
        abs.absinfo.maximum = INT_MAX;
        uinput_setup setup{};
        setup.id = {BUS_HOST, 0x0001, 0x0001, 0x0100};
        std::snprintf(setup.name, sizeof(setup.name), "%s", deviceName.c_str());
        char sysname[64] = {};
        if (::ioctl(m_fd, UI_SET_EVBIT, EV_ABS) != 0 || ::ioctl(m_fd, UI_SET_ABSBIT, ABS_X) != 0 ||
            ::ioctl(m_fd, UI_ABS_SETUP, &abs) != 0 || ::ioctl(m_fd, UI_DEV_SETUP, &setup) != 0 ||
            ::ioctl(m_fd, UI_DEV_CREATE) != 0 ||
            ::ioctl(m_fd, UI_GET_SYSNAME(sizeof(sysname) - 1), sysname) < 0)
            return fail(std::string("uinput: ") + std::generic_category().message(errno));
        m_position = 0;
        // The input device's eventN child names the node; devtmpfs makes it soon after.
        const std::string dir = std::string("/sys/class/input/") + sysname;
        for (int i = 0; i < 500; ++i) {
            if (DIR *d = ::opendir(dir.c_str())) {
                while (const dirent *e = ::readdir(d)) {
                    if (std::strncmp(e->d_name, "event", 5) == 0)
                        m_node = std::string("/dev/input/") + e->d_name;
                }
                ::closedir(d);
            }
            if (!m_node.empty() && ::access(m_node.c_str(), F_OK) == 0) {
                description = "the kernel's evdev on a uinput device of its own (" + m_node +
                              ") and sysfs GPIO";
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return fail("no evdev node for " + dir);
    }

    std::string node() const override { return m_node; }
    bool turn(int steps) override
    {
        for (int i = 0; i < (steps < 0 ? -steps : steps); ++i) {
            if (!report(m_position + (steps < 0 ? -1 : 1)))
                return false;
        }
        return true;
    }
    bool turnTo(int position) override { return report(position); }
    bool setGone(bool gone) override
    {
        if (gone == (m_fd < 0))
            return true;
        if (!gone)
            return setUp();
        destroy();
        return true;
    }

private:
    void destroy()
    {
        if (m_fd < 0)
            return;
        ::ioctl(m_fd, UI_DEV_DESTROY);
        ::close(m_fd);
        m_fd = -1;
        // Its node goes with it: devtmpfs removes it before UI_DEV_DESTROY returns.
    }

    // One packet; uinput hands each record of a write to the input core in turn.
    bool report(int position)
    {
        input_event e[2] = {};
        e[0].type = EV_ABS;
        e[0].code = ABS_X;
        e[0].value = position;
        e[1].type = EV_SYN;
        e[1].code = SYN_REPORT;
        if (::write(m_fd, e, sizeof(e)) != ssize_t(sizeof(e)))
            return fail(std::string("uinput write: ") + std::generic_category().message(errno));
        m_position = position;
        return true;
    }

    int m_fd = -1;
    int m_position = 0;
    std::string m_node;
};

} // namespace

std::unique_ptr<Target> makeTarget()
{
    if (std::getenv("BOARDSIM_CONTROL"))
        return std::make_unique<BoardsimTarget>();
    return std::make_unique<UinputTarget>();
}
