#include "simulator.h"

#include "evdev/keypaddevice.h"
#include "gpiolines.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char inputDir[] = "/dev/input";
const char runDir[] = "/run";
const char mediaDir[] = "/run/media";
const char simDir[] = "/run/boardsim";
const char binDir[] = "/run/boardsim/bin";
const char controlPath[] = "/run/boardsim/control";

} // namespace

Simulator::Simulator(const Options &options)
    : m_options(options), m_gpio(m_transcript), m_evdev(m_transcript)
{}

int Simulator::run()
{
    std::string error;
    for (const std::string &a : m_options.assignments) {
        if (!m_scenario.setAssignment(a, &error)) {
            std::fprintf(stderr, "boardsim: --set: %s\n", error.c_str());
            return 2;
        }
    }
    // Opened before entering the namespace so that the path means the host's file.
    if (!m_options.transcriptFile.empty() &&
        !m_transcript.openFile(m_options.transcriptFile, &error)) {
        std::fprintf(stderr, "boardsim: cannot write %s: %s\n", m_options.transcriptFile.c_str(),
                     error.c_str());
        return 2;
    }
    if (!setUp(&error) || !startCommand(&error)) {
        std::fprintf(stderr, "boardsim: %s\n", error.c_str());
        tearDown();
        return cannotRun;
    }
    loop();
    tearDown();
    return m_stopStatus ? *m_stopStatus : m_command.exitStatus();
}

bool Simulator::setUp(std::string *error)
{
    // Without /proc boardsim cannot find its own tools (through /proc/self/exe)
    // nor set up the namespaces; a fresh chroot often lacks it.
    if (access("/proc/self/exe", F_OK) != 0) {
        *error = "/proc is not mounted; in a chroot: mount -t proc proc /proc";
        return false;
    }
    const std::string toolPath = ToolBox::toolExecutable();
    if (!m_namespace.enter(error) || !m_command.prepare(error))
        return false;

    // /run: ours, with the host's entries, our own directory and the IOC's
    // automount directory (unless the board has none).
    std::set<std::string> hideInRun = {"boardsim", "media"};
    if (!m_namespace.shadow(runDir, hideInRun, error))
        return false;
    mkdir(simDir, 0755);
    if (!m_options.noRunMedia)
        mkdir(mediaDir, 0755);
    m_tools = std::make_unique<ToolBox>(binDir, toolPath);
    if (!m_tools->create(error))
        return false;
    m_tools->update(m_scenario);
    m_media = std::make_unique<UsbMedia>(mediaDir, m_scenario);
    m_dispatch = std::make_unique<ControlDispatch>(
        SimulatedBoard{m_transcript, m_scenario, m_gpio, m_evdev, *m_tools, *m_media}, m_control);
    if (!m_control.listen(controlPath, error))
        return false;
    m_control.setHandler([this](int client, const std::string &line, std::string *reply) {
        return m_dispatch->handle(client, line, reply);
    });
    // The command finds the tools first and the control socket.
    const char *oldPath = std::getenv("PATH");
    std::string path = std::string(binDir) + ":" + (oldPath ? oldPath : "/usr/bin:/bin");
    setenv("PATH", path.c_str(), 1);
    setenv("BOARDSIM_CONTROL", controlPath, 1);
    return mountGpio(error) && mountEvdev(error);
}

bool Simulator::mountGpio(std::string *error)
{
    if (!m_namespace.ensureDirectory(board::GpioDir, error))
        return false;
    // An empty directory: the product finds no export file and no lines.
    if (m_options.noGpio)
        return m_namespace.mountTmpfs(board::GpioDir, error);
    m_gpio.setExportMissing(m_options.noGpioExport);
    for (int line : m_options.refusedExports)
        m_gpio.refuseExport(line);
    for (int line : board::BoardExports)
        m_gpio.preExport(line, true, false);
    std::string why;
    if (!m_gpio.mount(board::GpioDir, &why)) {
        *error = std::string("cannot mount FUSE at ") + board::GpioDir + ": " + why;
        return false;
    }
    return true;
}

bool Simulator::mountEvdev(std::string *error)
{
    if (!m_namespace.ensureDirectory(inputDir, error))
        return false;
    m_evdev.addDevice(rotaryEncoderDevice(m_options.initialPosition));
    m_evdev.addDevice(keypadDevice());
    m_evdev.setGone(encoderNode, m_options.noEvdev);
    m_evdev.setIoctlFails(encoderNode, m_options.evdevIoctlFails);
    m_evdev.setCompat32(m_options.compat32Evdev);
    std::string why;
    if (!m_evdev.mount(inputDir, &why)) {
        *error = std::string("cannot mount FUSE at ") + inputDir + ": " + why;
        return false;
    }
    return true;
}

bool Simulator::startCommand(std::string *error)
{
    m_grab.prepare();
    if (!m_command.start(
            m_options.command, m_options.noPidfd, [this] { m_grab.installInChild(); }, error))
        return false;
    m_grab.takeListener(inputDir);
    return true;
}

int Simulator::pollTimeoutMs() const
{
    using namespace std::chrono;
    auto now = steady_clock::now();
    auto next = now + hours(1);
    if (m_media && m_media->hasDeadline())
        next = std::min(next, m_media->deadline());
    if (auto wait = m_dispatch->nextDeadline())
        next = std::min(next, *wait);
    next = std::min(next, m_control.nextDeadline());
    auto ms = duration_cast<milliseconds>(next - now).count();
    // Round up so that the deadline has passed when poll returns.
    return int(std::max<long long>(0, std::min<long long>(ms + 1, 3600LL * 1000)));
}

void Simulator::loop()
{
    while (!m_command.isDone()) {
        std::vector<pollfd> fds;
        fds.push_back({m_command.signalFd(), POLLIN, 0});
        int gpioFd = m_gpio.fuse().fd();
        int evdevFd = m_evdev.fuse().fd();
        if (gpioFd >= 0)
            fds.push_back({gpioFd, POLLIN, 0});
        if (evdevFd >= 0)
            fds.push_back({evdevFd, POLLIN, 0});
        if (m_grab.fd() >= 0)
            fds.push_back({m_grab.fd(), POLLIN, 0});
        const size_t controlFrom = fds.size();
        for (const pollfd &p : m_control.pollFds())
            fds.push_back(p);
        int n = poll(fds.data(), fds.size(), pollTimeoutMs());
        if (n < 0 && errno != EINTR)
            break;
        for (size_t i = controlFrom; i < fds.size(); ++i) {
            if (fds[i].revents)
                m_control.onEvents(fds[i]);
        }
        fds.resize(controlFrom);
        for (const pollfd &p : fds) {
            if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (p.fd == m_command.signalFd()) {
                m_command.onSignals();
            } else if (p.fd == gpioFd) {
                if (!m_gpio.fuse().processOne())
                    m_gpio.fuse().unmount();
            } else if (p.fd == evdevFd) {
                if (!m_evdev.fuse().processOne())
                    m_evdev.fuse().unmount();
                m_evdev.afterRequest();
            } else if (p.fd == m_grab.fd()) {
                m_grab.onReadable();
            }
        }
        m_control.onTimer();
        if (m_media)
            m_media->onTimer();
        m_dispatch->answerWaits(false);
        m_dispatch->serveTurns();
        if (!m_stopStatus && !m_transcript.failure().empty()) {
            // Whoever asked for the file relies on it holding everything: a
            // run that cannot record stops here rather than pass unrecorded.
            std::fprintf(stderr, "boardsim: %s; stopping the board\n",
                         m_transcript.failure().c_str());
            m_stopStatus = transcriptFailed;
            m_command.terminate();
        }
    }
}

void Simulator::tearDown()
{
    // Normally the namespace has ended already. If not, its blocked reads are
    // answered first: a process killed while it waits for the daemon's answer
    // cannot die until it gets one.
    m_evdev.shutdown();
    m_command.stop();
    m_gpio.fuse().unmount();
    m_evdev.fuse().unmount();
    // Closing the control socket lets a hung tool see end-of-file and exit.
    m_control.closeAll();
    if (m_media)
        m_media->removeAll();
}
