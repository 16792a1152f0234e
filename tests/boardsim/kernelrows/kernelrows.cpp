// Runs the kernel rows (rows.h) and prints one line a row, TAP-like: on boardsim when
// $BOARDSIM_CONTROL is set, else on a uinput device of its own. Rows where boardsim's answer
// differs from the kernel's for FUSE's sake say so on both targets. Exits 0 when every row gave
// its target's answer, 1 otherwise, 2 on a set-up error. Plain C++ and libc: it runs in the
// virtual board's guest as it is.

#include "rows.h"
#include "target.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <iterator>
#include <linux/input.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string gpioDir = "/sys/class/gpio/";
using Words = std::vector<std::string>;

Words split(const std::string &text, const std::string &by)
{
    Words out;
    size_t from = 0;
    for (size_t at; (at = text.find(by, from)) != std::string::npos; from = at + by.size())
        out.push_back(text.substr(from, at - from));
    out.push_back(text.substr(from));
    return out;
}

std::string join(const Words &words, char by)
{
    std::string out;
    for (const std::string &w : words)
        out += (out.empty() ? "" : std::string(1, by)) + w;
    return out;
}

std::string errnoName(int err)
{
    const char *name = strerrorname_np(err);
    return name ? name : std::to_string(err);
}

void onSignal(int) {}

// Type, code and value: a record's last 8 bytes in either layout.
struct Fields
{
    uint16_t type, code;
    int32_t value;
};
static_assert(sizeof(Fields) == 8);

class Runner
{
public:
    explicit Runner(Target &target) : m_target(target), m_record(target.recordSize) {}

    // The words a row's script prints.
    std::string run(const std::string &script)
    {
        Words words;
        for (const std::string &s : split(script, "; ")) {
            const std::string word = step(s);
            if (!word.empty())
                words.push_back(word);
        }
        return join(words, ' ');
    }

    // Leaves the target as the next row expects it: nothing open, nothing blocked, the
    // device present at 0, none of the rows' lines exported.
    std::string cleanup()
    {
        std::string trouble;
        if (m_background.valid() &&
            m_background.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            std::fprintf(stderr, "kernel-rows: a blocked call outlived its row\n");
            std::_Exit(1);
        }
        for (int fd : m_fds) {
            if (fd >= 0)
                ::close(fd);
        }
        m_fds.clear();
        if (!m_target.setGone(false) || !m_target.turnTo(0))
            trouble = m_target.lastError;
        for (int line = firstRowLine; isRowLine(line); ++line) {
            const std::string n = std::to_string(line);
            if (::access((gpioDir + "gpio").append(n).c_str(), F_OK) == 0 &&
                put("unexport", n) != std::to_string(n.size()))
                trouble = "cannot unexport line " + n;
        }
        return trouble;
    }

private:
    // A size in records: "R", "2R", "R-1", "R+8", or plain bytes.
    int size(const std::string &text) const
    {
        const size_t r = text.find('R');
        if (r == std::string::npos)
            return std::atoi(text.c_str());
        const int records = r == 0 ? 1 : std::atoi(text.substr(0, r).c_str());
        return records * m_record + std::atoi(text.c_str() + r + 1);
    }

    // A count of bytes as records where it is whole records.
    std::string count(long n) const
    {
        if (n < 0)
            return errnoName(int(-n));
        if (n > 0 && n % m_record == 0)
            return std::to_string(n / m_record) + "R";
        return std::to_string(n);
    }

    std::string readRecords(int fd, int bytes, bool decode) const
    {
        std::vector<char> buf(size_t(std::max(bytes, 1)));
        const ssize_t n = ::read(fd, buf.data(), size_t(bytes));
        if (n <= 0 || !decode)
            return count(n < 0 ? -errno : n);
        Words events;
        for (ssize_t at = 0; at + m_record <= n; at += m_record) {
            Fields f{};
            std::memcpy(&f, buf.data() + at + m_record - 8, 8);
            if (f.type == EV_SYN && (f.code == SYN_REPORT || f.code == SYN_DROPPED) && !f.value)
                events.push_back(f.code == SYN_REPORT ? "SYN" : "DROP");
            else if (f.type == EV_ABS && f.code == ABS_X)
                events.push_back("X=" + std::to_string(f.value));
            else
                events.push_back(std::to_string(f.type) + ":" + std::to_string(f.code) + "=" +
                                 std::to_string(f.value));
        }
        return join(events, ',');
    }

    std::string writeRecord(int fd, const Words &w) const
    {
        std::vector<char> record(size_t(m_record), '\0');
        const Fields f{uint16_t(std::atoi(w.at(1).c_str())), uint16_t(std::atoi(w.at(2).c_str())),
                       int32_t(std::atoi(w.at(3).c_str()))};
        std::memcpy(record.data() + m_record - 8, &f, 8);
        const int bytes = w.size() > 4 ? size(w[4]) : m_record;
        const ssize_t n = ::write(fd, record.data(), size_t(bytes));
        return count(n < 0 ? -errno : n);
    }

    static std::string pollBits(int revents)
    {
        Words bits;
        const char *names[] = {"IN", "OUT", "ERR", "HUP"};
        const int flags[] = {POLLIN, POLLOUT, POLLERR, POLLHUP};
        for (int i = 0; i < 4; ++i) {
            if (revents & flags[i])
                bits.push_back(names[i]);
        }
        return bits.empty() ? "0" : join(bits, '|');
    }

    // Set bits of a bit mask answer, as the kernel lays out longs (little-endian).
    static std::string bitList(const char *bytes, long length)
    {
        Words set;
        for (long i = 0; i < length * 8; ++i) {
            if (bytes[i / 8] & (1 << (i % 8)))
                set.push_back(std::to_string(i));
        }
        return join(set, ',');
    }

    std::string ioctlStep(int fd, const Words &w) const
    {
        const std::string &name = w.at(1);
        const int arg = w.size() > 2 ? std::atoi(w[2].c_str()) : 0;
        char buf[256] = {};
        const unsigned n = name == "NAME" && arg ? unsigned(arg) : sizeof(buf);
        const std::pair<const char *, unsigned long> requests[] = {
            {"VERSION", EVIOCGVERSION}, {"ID", EVIOCGID},           {"NAME", EVIOCGNAME(n)},
            {"PHYS", EVIOCGPHYS(n)},    {"BIT", EVIOCGBIT(arg, n)}, {"ABS", EVIOCGABS(arg)},
            {"REP", EVIOCGREP},         {"CLOCK", EVIOCSCLOCKID}};
        unsigned long request = _IOR('E', std::strtoul(name.c_str(), nullptr, 0), int);
        for (const auto &[word, known] : requests) {
            if (name == word)
                request = known;
        }
        if (name == "CLOCK")
            std::memcpy(buf, &arg, sizeof(arg)); // EVIOCSCLOCKID reads the clock's id
        // EVIOCGRAB takes its flag as the argument itself, not a pointer to it.
        const long res = name == "GRAB" ? ::ioctl(fd, EVIOCGRAB, arg) : ::ioctl(fd, request, buf);
        if (res < 0)
            return errnoName(errno);
        int version = 0;
        input_id id{};
        input_absinfo abs{};
        std::memcpy(&version, buf, sizeof(version));
        std::memcpy(&id, buf, sizeof(id));
        std::memcpy(&abs, buf, sizeof(abs));
        char text[96] = {};
        if (name == "VERSION")
            std::snprintf(text, sizeof(text), "0x%x", unsigned(version));
        else if (name == "ID")
            std::snprintf(text, sizeof(text), "%x:%x:%x:%x", id.bustype, id.vendor, id.product,
                          id.version);
        else if (name == "ABS")
            std::snprintf(text, sizeof(text), "%d,%d,%d,%d,%d,%d", abs.value, abs.minimum,
                          abs.maximum, abs.fuzz, abs.flat, abs.resolution);
        std::string answer = text;
        if (name == "NAME") {
            answer = std::string(buf, strnlen(buf, size_t(res)));
            if (answer == m_target.deviceName.substr(0, answer.size()))
                answer = "name";
        } else if (name == "BIT") {
            // The task's long: 4 bytes where its records are 16.
            const long longSize = m_record == 16 ? 4 : 8;
            return (res % longSize ? std::to_string(res) : std::to_string(res / longSize) + "L") +
                   ":" + bitList(buf, res);
        }
        if (res == 0)
            return answer.empty() ? "0" : answer;
        return std::to_string(res) + ":" + answer;
    }

    std::string background(int fd, const Words &w)
    {
        const bool isRead = w.at(1) == "read";
        const int bytes = w.size() > 2 ? size(w[2]) : 0;
        m_started = false;
        m_background = std::async(std::launch::async, [this, fd, bytes, isRead] {
            m_thread = pthread_self();
            m_started = true;
            if (isRead)
                return readRecords(fd, bytes, false);
            pollfd p{fd, POLLIN, 0};
            return ::poll(&p, 1, 5000) < 0 ? errnoName(errno) : pollBits(p.revents);
        });
        const bool blocked =
            m_background.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout;
        return blocked ? std::string() : "early:" + m_background.get();
    }

    std::string joinBackground()
    {
        if (m_background.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            m_target.turn(1); // free it so that the run can end
            return "HANG";
        }
        return m_background.get();
    }

    // As QFile writes: open with O_TRUNC, one write, close.
    static std::string put(const std::string &file, const std::string &data)
    {
        const int fd = ::open((gpioDir + file).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        const ssize_t n = fd < 0 ? -1 : ::write(fd, data.data(), data.size());
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        return n < 0 ? errnoName(err) : std::to_string(n);
    }

    static std::string cat(const std::string &file)
    {
        const int fd = ::open((gpioDir + file).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return errnoName(errno);
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        const int err = errno;
        ::close(fd);
        if (n < 0)
            return errnoName(err);
        std::string out;
        for (char c : std::string(buf, size_t(n)))
            out += c == '\n' ? std::string("\\n") : std::string(1, c);
        return out;
    }

    // A directory's entries, sorted, without other lines than the rows' own (a board's
    // check mode exports its own beside them), without other chips than the board's at
    // base 0 (QEMU's ARM machine has a GPIO controller of its own, gpiochip2040) and,
    // unless `all`, without the driver core's entries of a device, which gpiolib-sysfs
    // does not make.
    static std::string list(const std::string &dir, bool all)
    {
        DIR *d = ::opendir((gpioDir + dir).c_str());
        if (!d)
            return errnoName(errno);
        Words names;
        while (const dirent *e = ::readdir(d)) {
            const std::string n = e->d_name;
            const bool line = n.size() > 4 && n.compare(0, 4, "gpio") == 0 &&
                              n.find_first_not_of("0123456789", 4) == std::string::npos;
            const int number = line ? std::atoi(n.c_str() + 4) : -1;
            const bool core = n == "device" || n == "power" || n == "subsystem" || n == "uevent";
            const bool otherChip = n.compare(0, 8, "gpiochip") == 0 && n != "gpiochip0";
            if (n == "." || n == ".." || (core && !all) || otherChip ||
                (line && !isRowLine(number)))
                continue;
            names.push_back(n);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        return join(names, ',');
    }

    // One step; the word it prints, if any.
    std::string step(const std::string &text)
    {
        const Words w = split(text, " ");
        std::string op = w[0];
        int fd = m_fds.empty() ? -1 : m_fds.back();
        if (const size_t hash = op.find('#'); hash != std::string::npos) {
            const size_t i = size_t(std::atoi(op.c_str() + hash + 1));
            fd = i < m_fds.size() ? m_fds[i] : -1;
            op.resize(hash);
        }
        const std::string arg = w.size() > 1 ? w[1] : "";
        auto ctl = [this](bool ok) {
            return ok ? std::string() : "CTLFAIL:" + m_target.lastError;
        };
        if (op == "open") {
            const int newFd = ::open(m_target.node().c_str(),
                                     O_RDWR | O_CLOEXEC | (arg == "nb" ? O_NONBLOCK : 0));
            if (newFd < 0)
                return errnoName(errno);
            m_fds.push_back(newFd);
            return std::string();
        }
        if (op == "nb") {
            const int flags = ::fcntl(fd, F_GETFL);
            const int set = arg == "on" ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
            return flags < 0 || ::fcntl(fd, F_SETFL, set) < 0 ? errnoName(errno) : std::string();
        }
        if (op == "close") {
            // The descriptor keeps its number in the row: read#1 stays the second one opened.
            std::replace(m_fds.begin(), m_fds.end(), fd, -1);
            return ::close(fd) < 0 ? errnoName(errno) : std::string();
        }
        if (op == "read" || op == "events")
            return readRecords(fd, size(arg), op == "events");
        if (op == "write")
            return writeRecord(fd, w);
        if (op == "poll") {
            pollfd p{fd, POLLIN | POLLOUT, 0};
            return ::poll(&p, 1, 0) < 0 ? errnoName(errno) : pollBits(p.revents);
        }
        if (op == "ioctl")
            return ioctlStep(fd, w);
        if (op == "bg")
            return background(fd, w);
        if (op == "join")
            return joinBackground();
        if (op == "signal")
            return m_started && pthread_kill(m_thread, SIGUSR1) == 0 ? std::string() : "NOSIGNAL";
        const int value = std::atoi(arg.c_str());
        if (op == "turn")
            return ctl(m_target.turn(value));
        if (op == "to")
            return ctl(m_target.turnTo(value));
        if (op == "gone")
            return ctl(m_target.setGone(arg == "on"));
        if (op == "put")
            return put(arg, w.at(2));
        if (op == "cat")
            return cat(arg);
        if (op == "create") {
            const int created =
                ::open((gpioDir + arg).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            return created < 0 ? errnoName(errno) : "created";
        }
        if (op == "ls" || op == "lsall")
            return list(arg, op == "lsall");
        if (op == "kind") {
            struct stat st = {};
            if (::lstat((gpioDir + arg).c_str(), &st) != 0)
                return errnoName(errno);
            return S_ISLNK(st.st_mode) ? "link" : S_ISDIR(st.st_mode) ? "dir" : "file";
        }
        return "BADSTEP:" + op;
    }

    Target &m_target;
    const int m_record;
    std::vector<int> m_fds;
    std::future<std::string> m_background;
    pthread_t m_thread{};
    std::atomic<bool> m_started{false};
};

} // namespace

int main(int argc, char **)
{
    const auto t0 = std::chrono::steady_clock::now();
    const std::unique_ptr<Target> target = makeTarget();
    if (argc > 1 || !target->setUp()) {
        std::fprintf(stderr, "kernel-rows: %s\n",
                     argc > 1 ? "no arguments: the target is boardsim when BOARDSIM_CONTROL is set"
                              : target->lastError.c_str());
        return 2;
    }
    // No SA_RESTART: an interrupted read must fail with EINTR.
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGUSR1, &sa, nullptr);
    // qemu-user (7.2) answers evdev ioctls itself with ENOSYS: they never reach the node.
    const char *emulator = std::getenv("CHECKMODE_TEST_EMULATOR");
    const bool qemuUser = emulator && std::strstr(emulator, "qemu");

    std::printf("# %s, %d-byte records\n", target->description.c_str(), target->recordSize);
    const int count = int(std::size(kernelRows));
    int failed = 0, limits = 0;
    Runner runner(*target);
    for (int i = 0; i < count; ++i) {
        const Row &row = kernelRows[i];
        std::string mark;
        if (row.fuseLimit) {
            ++limits;
            mark = std::string(" # FUSE limit: ") + row.fuseLimit + " (kernel: " + row.expected +
                   "; boardsim: " + row.throughFuse + ")";
        }
        if (qemuUser && std::strstr(row.script, "ioctl")) {
            std::printf("ok %d %s # SKIP qemu-user answers evdev ioctls itself\n", i + 1, row.name);
            continue;
        }
        const std::string expected =
            target->throughFuse && row.throughFuse ? row.throughFuse : row.expected;
        const std::string got = runner.run(row.script);
        const std::string trouble = runner.cleanup();
        const bool ok = got == expected && trouble.empty();
        failed += ok ? 0 : 1;
        std::printf("%s %d %s%s\n", ok ? "ok" : "not ok", i + 1, row.name, mark.c_str());
        if (!ok)
            std::printf("#   expected \"%s\"\n#        got \"%s\"%s%s\n", expected.c_str(),
                        got.c_str(), trouble.empty() ? "" : "; clean-up: ", trouble.c_str());
        std::fflush(stdout);
    }
    std::printf("# %d rows, %d failed, %d with a FUSE limit, %.2f s\n", count, failed, limits,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    return failed ? 1 : 0;
}
