#include "simulator.h"

#include "controlconnection.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char gpioDir[] = "/sys/class/gpio";
const char inputDir[] = "/dev/input";
const char runDir[] = "/run";
const char mediaDir[] = "/run/media";
const char simDir[] = "/run/boardsim";
const char binDir[] = "/run/boardsim/bin";
const char controlPath[] = "/run/boardsim/control";
const int forwardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// --no-pidfd. qemu-user 7.2 passes waitid(P_PIDFD) through, so Qt's QProcess
// takes pidfds as available, but fails clone(CLONE_PIDFD) with EINVAL without
// telling Qt: QProcess then believes it runs a child with pid -1 and stops it
// with kill(-1, SIGKILL), which as root kills every process on the machine.
// Failing the probe with EINVAL, as a kernel without pidfds does, sends Qt down
// its plain fork path; kill(-1) itself is refused in case anything computes it.
#if defined(__x86_64__)
#define BOARDSIM_AUDIT_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define BOARDSIM_AUDIT_ARCH AUDIT_ARCH_AARCH64
#endif
#ifdef BOARDSIM_AUDIT_ARCH
const unsigned pidfdIdType = 3; // P_PIDFD, which older C libraries do not name
sock_filter noPidfdFilter[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, BOARDSIM_AUDIT_ARCH, 0, 7),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_waitid, 0, 2),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])), // low half
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, pidfdIdType, 4, 3),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_kill, 0, 2),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xffffffffu, 2, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
};
#endif

// In the forked command, so only system calls. Without no_new_privs a filter
// needs CAP_SYS_ADMIN, which boardsim has as root or in its user namespace.
bool hidePidfd()
{
#ifdef BOARDSIM_AUDIT_ARCH
    sock_fprog program{sizeof(noPidfdFilter) / sizeof(noPidfdFilter[0]), noPidfdFilter};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
    errno = ENOSYS;
    return false;
#endif
}

// Lines the board's init scripts export before the product starts.
const int preExportedLines[] = {128, 129};

std::string toolExecutable()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return "boardsim-tool";
    self[n] = '\0';
    std::string path = self;
    return path.substr(0, path.find_last_of('/') + 1) + "boardsim-tool";
}

bool parseInt(const std::string &text, int *value)
{
    long v = 0;
    if (!::parseInt(text, INT_MIN, INT_MAX, &v))
        return false;
    *value = int(v);
    return true;
}

bool parseOnOff(const std::string &text, bool *value)
{
    if (text == "on" || text == "1" || text == "true") {
        *value = true;
        return true;
    }
    if (text == "off" || text == "0" || text == "false") {
        *value = false;
        return true;
    }
    return false;
}

} // namespace

Simulator::Simulator(const Options &options)
    : m_options(options), m_gpio(m_transcript), m_evdev(m_transcript)
{}

Simulator::~Simulator()
{
    if (m_signalFd >= 0)
        close(m_signalFd);
}

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
    if (!setUp(&error)) {
        std::fprintf(stderr, "boardsim: %s\n", error.c_str());
        tearDown();
        return cannotRun;
    }
    if (!startCommand(&error)) {
        std::fprintf(stderr, "boardsim: %s\n", error.c_str());
        tearDown();
        return cannotRun;
    }
    loop();
    tearDown();
    return m_exitStatus;
}

bool Simulator::setUp(std::string *error)
{
    // Without /proc boardsim cannot find its own tools (through /proc/self/exe)
    // nor set up the namespaces; a fresh chroot often lacks it.
    if (access("/proc/self/exe", F_OK) != 0) {
        *error = "/proc is not mounted; in a chroot: mount -t proc proc /proc";
        return false;
    }
    const std::string toolPath = toolExecutable();
    if (!m_namespace.enter(error))
        return false;

    // Signals are taken through a signalfd so that the single loop sees them;
    // blocked before any child exists so none is lost.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    for (int sig : forwardedSignals)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    m_signalFd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    // Orphans of the command (a hung tool it left behind) become our children,
    // so tear-down can end them.
    prctl(PR_SET_CHILD_SUBREAPER, 1);

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
    if (!m_control.listen(controlPath, error))
        return false;
    m_control.setHandler([this](int client, const std::string &line, std::string *reply) {
        return handleRequest(client, line, reply);
    });

    if (!m_namespace.ensureDirectory(gpioDir, error))
        return false;
    if (m_options.noGpio) {
        // An empty directory: the product finds no export file and no lines.
        if (!m_namespace.mountTmpfs(gpioDir, error))
            return false;
    } else {
        m_gpio.setExportMissing(m_options.noGpioExport);
        for (int line : m_options.refusedExports)
            m_gpio.refuseExport(line);
        for (int line : preExportedLines)
            m_gpio.preExport(line, true, false);
        std::string why;
        if (!m_gpio.mount(gpioDir, &why)) {
            *error = std::string("cannot mount FUSE at ") + gpioDir + ": " + why;
            return false;
        }
    }

    if (!m_namespace.ensureDirectory(inputDir, error))
        return false;
    m_evdev.setAbsent(m_options.noEvdev);
    m_evdev.setIoctlFails(m_options.evdevIoctlFails);
    m_evdev.setPosition(m_options.initialPosition);
    std::string why;
    if (!m_evdev.mount(inputDir, &why)) {
        *error = std::string("cannot mount FUSE at ") + inputDir + ": " + why;
        return false;
    }
    return true;
}

bool Simulator::startCommand(std::string *error)
{
    const char *oldPath = std::getenv("PATH");
    std::string path = std::string(binDir) + ":" + (oldPath ? oldPath : "/usr/bin:/bin");
    setenv("PATH", path.c_str(), 1);
    setenv("BOARDSIM_CONTROL", controlPath, 1);
    std::vector<char *> argv;
    for (const std::string &a : m_options.command)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_t parent = getpid();
    m_child = fork();
    if (m_child < 0) {
        *error = std::string("cannot fork: ") + std::strerror(errno);
        return false;
    }
    if (m_child == 0) {
        // Only async-signal-safe calls until exec.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // If boardsim dies, the command must not outlive the board it runs on.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        if (m_options.noPidfd && !hidePidfd()) {
            const char *msg = "boardsim: --no-pidfd: cannot install the system call filter\n";
            (void)!write(2, msg, std::strlen(msg));
            _exit(126);
        }
        execvp(argv[0], argv.data());
        int err = errno;
        const char *msg = "boardsim: cannot run the command: ";
        (void)!write(2, msg, std::strlen(msg));
        (void)!write(2, argv[0], std::strlen(argv[0]));
        (void)!write(2, ": ", 2);
        (void)!write(2, std::strerror(err), std::strlen(std::strerror(err)));
        (void)!write(2, "\n", 1);
        _exit(err == ENOENT ? 127 : 126);
    }
    return true;
}

int Simulator::pollTimeoutMs() const
{
    using namespace std::chrono;
    auto now = steady_clock::now();
    auto next = now + hours(1);
    if (m_media && m_media->hasDeadline())
        next = std::min(next, m_media->deadline());
    for (const TranscriptWait &w : m_waits)
        next = std::min(next, w.deadline);
    auto ms = duration_cast<milliseconds>(next - now).count();
    // Round up so that the deadline has passed when poll returns.
    return int(std::max<long long>(0, std::min<long long>(ms + 1, 3600LL * 1000)));
}

void Simulator::loop()
{
    while (!m_childDone) {
        std::vector<pollfd> fds;
        fds.push_back({m_signalFd, POLLIN, 0});
        int gpioFd = m_gpio.fuse().fd();
        int evdevFd = m_evdev.fuse().fd();
        if (gpioFd >= 0)
            fds.push_back({gpioFd, POLLIN, 0});
        if (evdevFd >= 0)
            fds.push_back({evdevFd, POLLIN, 0});
        for (int fd : m_control.fds())
            fds.push_back({fd, POLLIN, 0});
        int n = poll(fds.data(), fds.size(), pollTimeoutMs());
        if (n < 0 && errno != EINTR)
            break;
        for (const pollfd &p : fds) {
            if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (p.fd == m_signalFd) {
                handleSignals();
            } else if (p.fd == gpioFd) {
                if (!m_gpio.fuse().processOne())
                    m_gpio.fuse().unmount();
            } else if (p.fd == evdevFd) {
                if (!m_evdev.fuse().processOne())
                    m_evdev.fuse().unmount();
                m_evdev.afterRequest();
            } else {
                m_control.onReadable(p.fd);
            }
        }
        if (m_media)
            m_media->onTimer();
        answerWaits(false);
    }
}

void Simulator::handleSignals()
{
    signalfd_siginfo info;
    while (read(m_signalFd, &info, sizeof(info)) == ssize_t(sizeof(info))) {
        if (info.ssi_signo == SIGCHLD)
            reapChildren();
        else if (m_child > 0 && !m_childDone)
            kill(m_child, int(info.ssi_signo));
    }
}

void Simulator::reapChildren()
{
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        if (pid != m_child)
            continue; // an orphan of the command, reparented to us
        m_childDone = true;
        if (WIFEXITED(status))
            m_exitStatus = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            m_exitStatus = 128 + WTERMSIG(status);
    }
}

// What the command left running (reparented to us as subreaper) dies with the
// board; a bounded number of rounds, as each kill may orphan grandchildren.
void Simulator::killOrphans()
{
    const pid_t self = getpid();
    for (int round = 0; round < 50; ++round) {
        std::vector<pid_t> children;
        if (DIR *d = opendir("/proc")) {
            while (dirent *ent = readdir(d)) {
                int pid = std::atoi(ent->d_name);
                if (pid <= 0)
                    continue;
                char path[64];
                std::snprintf(path, sizeof(path), "/proc/%d/stat", pid);
                FILE *f = std::fopen(path, "re");
                if (!f)
                    continue;
                char buf[512];
                size_t len = std::fread(buf, 1, sizeof(buf) - 1, f);
                std::fclose(f);
                buf[len] = '\0';
                // The command name may hold spaces and parentheses; ppid follows the last ')'.
                const char *close = std::strrchr(buf, ')');
                int ppid = 0;
                if (close && std::sscanf(close + 1, " %*c %d", &ppid) == 1 && ppid == self)
                    children.push_back(pid);
            }
            closedir(d);
        }
        if (children.empty())
            return;
        for (pid_t pid : children)
            kill(pid, SIGKILL);
        // Bounded: reaped as they die, but never waiting on one for ever.
        for (int i = 0; i < 100; ++i) {
            bool all = true;
            for (pid_t &pid : children) {
                if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0)
                    all = false;
                else
                    pid = 0;
            }
            if (all)
                break;
            usleep(10000);
        }
    }
}

void Simulator::tearDown()
{
    if (m_child > 0 && !m_childDone) {
        kill(m_child, SIGKILL);
        waitpid(m_child, nullptr, 0);
        m_childDone = true;
    }
    // The file systems go first: a leftover process blocked in a read of
    // them could not even die from SIGKILL until answered.
    m_evdev.shutdown();
    m_gpio.fuse().unmount();
    m_evdev.fuse().unmount();
    // Closing the control socket lets a hung tool see end-of-file and exit.
    m_control.closeAll();
    killOrphans();
    if (m_media)
        m_media->removeAll();
}

void Simulator::answerWaits(bool all)
{
    auto now = std::chrono::steady_clock::now();
    size_t count = m_transcript.lines().size();
    for (size_t i = 0; i < m_waits.size();) {
        const TranscriptWait w = m_waits[i];
        if (all || count != w.knownCount || now >= w.deadline) {
            m_waits.erase(m_waits.begin() + long(i));
            m_control.reply(w.client, "ok " + std::to_string(count));
        } else {
            ++i;
        }
    }
}

std::string Simulator::gpioText(int line) const
{
    const GpioFs::Line &l = m_gpio.line(line);
    if (!l.exported)
        return "unexported";
    return std::string(l.output ? "out " : "in ") + (l.high ? "1" : "0");
}

std::string Simulator::stateJson() const
{
    std::string out = "{\"position\": " + std::to_string(m_evdev.position()) +
                      ", \"pending\": " + std::to_string(m_evdev.pendingRecords()) +
                      ", \"readers\": " + std::to_string(m_evdev.readerCount()) +
                      ", \"gone\": " + (m_evdev.isGone() ? "true" : "false") +
                      ", \"ioctlFails\": " + (m_evdev.ioctlFails() ? "true" : "false") +
                      ", \"gpio\": {";
    bool first = true;
    for (int i = 0; i < GpioFs::lineCount; ++i) {
        const GpioFs::Line &l = m_gpio.line(i);
        if (!l.exported)
            continue;
        out += std::string(first ? "" : ", ") + "\"" + std::to_string(i) +
               "\": {\"direction\": \"" + (l.output ? "out" : "in") + "\", \"value\": \"" +
               (l.high ? "1" : "0") + "\"}";
        first = false;
    }
    out += "}, \"scenario\": {";
    first = true;
    for (const auto &kv : m_scenario.values()) {
        out += std::string(first ? "" : ", ") + "\"" + kv.first + "\": \"" + kv.second + "\"";
        first = false;
    }
    out += "}, \"usb\": {\"switched\": " + std::string(m_media->isSwitched() ? "true" : "false") +
           ", \"booted\": " + (m_media->isBooted() ? "true" : "false") +
           ", \"mounted\": " + (m_media->isMounted() ? "true" : "false") +
           "}, \"transcriptCount\": " + std::to_string(m_transcript.lines().size()) + "}";
    return out;
}

std::string Simulator::transcriptReply(size_t from) const
{
    const auto &lines = m_transcript.lines();
    from = std::min(from, lines.size());
    std::string out = "ok " + std::to_string(lines.size() - from);
    for (size_t i = from; i < lines.size(); ++i)
        out += "\n" + lines[i];
    return out;
}

bool Simulator::handleRequest(int client, const std::string &line, std::string *reply)
{
    std::vector<std::string> w = ControlConnection::splitWords(line);
    const std::string cmd = w.empty() ? std::string() : w[0];
    const size_t argc = w.size() - (w.empty() ? 0 : 1);
    int a = 0;
    int b = 0;
    int c = 0;
    bool flag = false;
    std::string error;
    auto ok = [reply](const std::string &payload = std::string()) {
        *reply = payload.empty() ? "ok" : "ok " + payload;
        return true;
    };
    auto fail = [reply](const std::string &message) {
        *reply = "error " + message;
        return true;
    };

    if (cmd == "ping")
        return ok("boardsim");
    if (cmd == "turn" && argc == 1 && parseInt(w[1], &a)) {
        m_evdev.turn(a);
        return ok();
    }
    if (cmd == "turn-to" && argc == 1 && parseInt(w[1], &a)) {
        m_evdev.turnTo(a);
        return ok();
    }
    if (cmd == "record" && argc == 3 && parseInt(w[1], &a) && parseInt(w[2], &b) &&
        parseInt(w[3], &c)) {
        if (a < 0 || a > 0xffff || b < 0 || b > 0xffff)
            return fail("type and code must be 0..65535");
        m_evdev.queueRecord(a, b, c);
        return ok();
    }
    if (cmd == "set-position" && argc == 1 && parseInt(w[1], &a)) {
        m_evdev.setPosition(a);
        return ok();
    }
    if (cmd == "position" && argc == 0)
        return ok(std::to_string(m_evdev.position()));
    if (cmd == "pending" && argc == 0)
        return ok(std::to_string(m_evdev.pendingRecords()));
    if (cmd == "ioctl-fails" && argc == 1 && parseOnOff(w[1], &flag)) {
        m_evdev.setIoctlFails(flag);
        return ok();
    }
    if (cmd == "gone" && argc == 1 && parseOnOff(w[1], &flag)) {
        m_evdev.setGone(flag);
        return ok();
    }
    if (cmd == "gpio" && argc == 1 && parseInt(w[1], &a)) {
        if (a < 0 || a >= GpioFs::lineCount)
            return fail("no such line " + w[1]);
        return ok(gpioText(a));
    }
    if (cmd == "set" && argc == 1) {
        if (!m_scenario.setAssignment(w[1], &error))
            return fail(error);
        m_tools->update(m_scenario);
        return ok();
    }
    if (cmd == "get" && argc == 1) {
        std::string v = m_scenario.get(w[1]);
        return v.empty() ? fail("unknown scenario key '" + w[1] + "'") : ok(v);
    }
    if (cmd == "scenario" && argc == 0)
        return ok(m_scenario.describe());
    if (cmd == "state" && argc == 0)
        return ok(stateJson());
    if (cmd == "transcript" && argc <= 1) {
        if (argc == 1 && (!parseInt(w[1], &a) || a < 0))
            return fail("transcript: bad start index");
        *reply = transcriptReply(argc == 1 ? size_t(a) : 0);
        return true;
    }
    if (cmd == "transcript-count" && argc == 0)
        return ok(std::to_string(m_transcript.lines().size()));
    if (cmd == "clear-transcript" && argc == 0) {
        m_transcript.clear();
        return ok();
    }
    if (cmd == "wait-transcript" && argc == 2 && parseInt(w[1], &a) && parseInt(w[2], &b) &&
        a >= 0 && b >= 0) {
        // Answered from the loop when the count differs from the caller's, or at the time-out.
        m_waits.push_back(
            {client, size_t(a), std::chrono::steady_clock::now() + std::chrono::milliseconds(b)});
        answerWaits(false);
        return false;
    }
    if ((cmd == "exec" && argc >= 2) || (cmd == "act" && argc >= 1)) {
        *reply = handleTool(w, cmd == "act");
        return true;
    }
    if (cmd.empty())
        return fail("empty request");
    return fail("bad request '" + line + "'");
}

// The fake tools ask here first how to behave ("exec PID NAME ARG..."), and
// when they get to do their work ("act NAME ARG...") the board changes.
std::string Simulator::handleTool(const std::vector<std::string> &words, bool act)
{
    size_t nameIndex = act ? 1 : 2;
    const std::string &name = words[nameIndex];
    std::vector<std::string> args;
    for (size_t i = nameIndex + 1; i < words.size(); ++i)
        args.push_back(ControlConnection::decodeArg(words[i]));
    const std::string mode = m_scenario.get("tool." + name);
    if (mode.empty())
        return "error unknown tool '" + name + "'";
    if (!act) {
        Transcript::Entry e(std::atoi(words[1].c_str()), "exec", name);
        e.hasArgs = true;
        e.args = args;
        e.hasResult = false;
        m_transcript.add(e);
        return "ok " + mode + " " + m_scenario.get("tool-delay-ms");
    }
    auto is = [&args](const char *a) {
        return args.size() == 1 && args[0] == a;
    };
    if (name == "usbswitch" && (is("-i") || is("-f"))) {
        m_media->setSwitched(is("-i"));
        return "ok";
    }
    if (name == "iocboot" && (is("-i") || is("-f"))) {
        m_media->setBooted(is("-i"));
        return "ok";
    }
    if (name == "flash" && args.size() == 2 && args[0] == "-o" && args[1] == "rdid")
        return "ok " + m_scenario.get("flash");
    return "error usage";
}
