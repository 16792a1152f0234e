// The simulated evdev node and sysfs GPIO against the kernel, one observable behaviour a row,
// each named after the kernel function it mirrors and checked with plain system calls.
// What needs no file (the ring, the ioctl answers, the GPIO stores' parsing) is
// tst_boardsim_core's; the rows here prove the way through FUSE.
//
// A row is a script of steps ("; "-separated) run on the board; steps that ask the kernel
// something print a word, and the row lists the words it expects:
//   open [nb] [PATH]  open event0 (or PATH: "gpio/..." or a /dev/input name) read-write,
//                     O_NONBLOCK with nb; prints only an errno
//   read N | events N read N bytes: the count, or the records as X=v (ABS_X), SYN, DROP
//                     (SYN_DROPPED) or type:code=value
//   write T C V       one record of the reader's layout;  poll  revents at once
//   ioctl NAME [ARG]  result:answer for VERSION, NAME [SIZE], BIT TYPE, REP, GRAB 1|0, or a bare
//                     request number
//   bg read N | bg poll   start it in a thread (blocking, 5 s at most); prints "early" if it
//                     did not block for 200 ms;  join  its result;  signal  SIGUSR1 to it
//   turn N, to P, pos P, gone on|off   the board's control socket (event0)
//   put FILE DATA, cat FILE, ls [DIR], create FILE   sysfs GPIO files as QFile uses them
// A step acts on the latest descriptor; read#0 (etc.) on the first one opened.

#include "boardsimclient.h"
#include "kernelwords.h"

#include <QProcess>
#include <QtTest>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray gpioDir = "/sys/class/gpio/";

QString pollBits(int revents)
{
    QStringList bits;
    for (auto [bit, name] :
         {std::pair{POLLIN, "IN"}, {POLLOUT, "OUT"}, {POLLERR, "ERR"}, {POLLHUP, "HUP"}}) {
        if (revents & bit)
            bits << name;
    }
    return bits.isEmpty() ? "0" : bits.join('|');
}

// Set bits of a bit mask answer, as the kernel lays out longs (little-endian).
QString bitList(const char *bytes, int length)
{
    QStringList set;
    for (int i = 0; i < length * 8; ++i) {
        if (bytes[i / 8] & (1 << (i % 8)))
            set << QString::number(i);
    }
    return set.join(',');
}

QString escaped(QByteArray bytes)
{
    return QString::fromUtf8(bytes.replace('\n', "\\n"));
}

} // namespace

class TestBoardSimKernel : public QObject
{
    Q_OBJECT
    BoardSimClient m_board;
    QVector<int> m_fds;
    int m_recordSize = 24; // 16 under boardsim --compat32-evdev
    std::future<QString> m_background;
    std::atomic<pthread_t> m_thread = {};
    // qemu-user (7.2) answers evdev ioctls itself with ENOSYS: they never reach the node.
    const bool m_qemu =
        qEnvironmentVariable("CHECKMODE_TEST_EMULATOR").contains(QLatin1String("qemu"));

    static void onSignal(int) {}

    // Which file a path leads to (device and inode); {0, 0} for none.
    static std::pair<dev_t, ino_t> fileId(const QString &name)
    {
        struct stat st
        {
        };
        if (::stat(QFile::encodeName(name).constData(), &st) != 0)
            return {0, 0};
        return {st.st_dev, st.st_ino};
    }

    static QByteArray path(const QString &name)
    {
        if (name.startsWith("gpio/"))
            return gpioDir + name.mid(5).toUtf8();
        return name.startsWith('/') ? name.toUtf8() : "/dev/input/" + name.toUtf8();
    }

    QString readRecords(int fd, int size, bool decode)
    {
        std::vector<char> buf(size_t(qMax(size, 1)));
        const ssize_t n = ::read(fd, buf.data(), size_t(size));
        if (n <= 0 || !decode)
            return result(n < 0 ? -errno : n);
        QStringList events;
        for (ssize_t at = 0; at + m_recordSize <= n; at += m_recordSize) {
            // type, code and value are the record's last 8 bytes in either layout
            const char *end = buf.data() + at + m_recordSize;
            const int type = qFromUnaligned<quint16>(end - 8),
                      code = qFromUnaligned<quint16>(end - 6);
            const int value = qFromUnaligned<qint32>(end - 4);
            if (type == EV_SYN && (code == SYN_REPORT || code == SYN_DROPPED) && value == 0)
                events << (code == SYN_REPORT ? "SYN" : "DROP");
            else if (type == EV_ABS && code == ABS_X)
                events << QString("X=%1").arg(value);
            else
                events << QString("%1:%2=%3").arg(type).arg(code).arg(value);
        }
        return events.join(',');
    }

    QString ioctlStep(int fd, const QStringList &w)
    {
        const QString name = w.value(1);
        const int arg = w.value(2).toInt();
        char buf[256] = {};
        const int size = name == "NAME" && arg ? arg : int(sizeof(buf));
        const QHash<QString, unsigned long> requests = {{"VERSION", EVIOCGVERSION},
                                                        {"REP", EVIOCGREP},
                                                        {"NAME", EVIOCGNAME(size)},
                                                        {"BIT", EVIOCGBIT(arg, size)}};
        const unsigned long request =
            requests.value(name, _IOR('E', w.value(1).toUInt(nullptr, 0), int));
        // EVIOCGRAB takes its flag as the argument itself, not a pointer to it.
        const long res = name == "GRAB" ? ::ioctl(fd, EVIOCGRAB, arg) : ::ioctl(fd, request, buf);
        if (res < 0)
            return errnoName(errno);
        QString answer;
        if (name == "VERSION")
            answer = "0x" + QString::number(*reinterpret_cast<int *>(buf), 16);
        else if (name == "NAME")
            answer = QString::fromLatin1(buf, int(qstrnlen(buf, size_t(res))));
        else if (name == "BIT")
            answer = bitList(buf, int(res));
        if (res == 0)
            return answer.isEmpty() ? "0" : answer;
        return QString("%1:%2").arg(res).arg(answer);
    }

    // One step; the word it prints, if any.
    QString step(const QString &text)
    {
        QStringList w = text.split(' ');
        QString op = w.value(0);
        int fd = m_fds.isEmpty() ? -1 : m_fds.last();
        if (op.contains('#')) {
            fd = m_fds.value(op.section('#', 1).toInt(), -1);
            op = op.section('#', 0, 0);
        }
        auto ctl = [](bool ok) {
            return ok ? QString() : QString("CTLFAIL");
        };
        if (op == "open") {
            const bool nb = w.contains("nb");
            const QString name = w.size() > (nb ? 2 : 1) ? w.last() : "event0";
            const int newFd = ::open(path(name), O_RDWR | O_CLOEXEC | (nb ? O_NONBLOCK : 0));
            if (newFd < 0)
                return errnoName(errno);
            m_fds << newFd;
            return QString();
        }
        if (op == "read" || op == "events")
            return readRecords(fd, w.value(1).toInt(), op == "events");
        if (op == "write") {
            std::vector<char> record(size_t(m_recordSize), '\0');
            char *end = record.data() + m_recordSize;
            qToUnaligned(quint16(w.value(1).toUInt()), end - 8);
            qToUnaligned(quint16(w.value(2).toUInt()), end - 6);
            qToUnaligned(qint32(w.value(3).toInt()), end - 4);
            const int size = w.size() > 4 ? w[4].toInt() : m_recordSize;
            return result(::write(fd, record.data(), size_t(size)) < 0 ? -errno : size);
        }
        if (op == "poll") {
            pollfd p{fd, POLLIN | POLLOUT, 0};
            return ::poll(&p, 1, 0) < 0 ? errnoName(errno) : pollBits(p.revents);
        }
        if (op == "ioctl")
            return ioctlStep(fd, w);
        if (op == "bg") {
            const int size = w.value(2).toInt();
            const bool isRead = w.value(1) == "read";
            m_background = std::async(std::launch::async, [this, fd, size, isRead] {
                m_thread = pthread_self();
                if (isRead)
                    return readRecords(fd, size, false);
                pollfd p{fd, POLLIN, 0};
                return ::poll(&p, 1, 5000) < 0 ? errnoName(errno) : pollBits(p.revents);
            });
            const bool blocked = m_background.wait_for(std::chrono::milliseconds(200)) ==
                                 std::future_status::timeout;
            return blocked ? QString() : "early:" + m_background.get();
        }
        if (op == "join") {
            if (m_background.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
                m_board.turn(1); // free it so that the test can end
                return "HANG";
            }
            return m_background.get();
        }
        if (op == "signal")
            return pthread_kill(m_thread, SIGUSR1) == 0 ? QString() : "NOSIGNAL";
        if (op == "turn" || op == "to" || op == "pos")
            return ctl(op == "turn" ? m_board.turn(w.value(1).toInt())
                       : op == "to" ? m_board.turnTo(w.value(1).toInt())
                                    : m_board.setPosition(w.value(1).toInt()));
        if (op == "gone")
            return ctl(m_board.setDeviceGone(w.value(1) == "on"));
        if (op == "put") {
            // As QFile writes: open with O_TRUNC, one write, close.
            const QByteArray data = unescaped(text.section(' ', 2));
            const int gpio = ::open(gpioDir + w.value(1).toUtf8(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            const ssize_t n = gpio < 0 ? -1 : ::write(gpio, data.constData(), size_t(data.size()));
            const int err = errno;
            if (gpio >= 0)
                ::close(gpio);
            return result(n < 0 ? -err : n);
        }
        if (op == "cat") {
            QFile file(gpioDir + w.value(1));
            if (!file.open(QIODevice::ReadOnly))
                return errnoName(errno);
            return escaped(file.readAll());
        }
        if (op == "create") {
            const int created = ::open(gpioDir + w.value(1).toUtf8(), O_WRONLY | O_CREAT, 0644);
            return created < 0 ? errnoName(errno) : QString("created");
        }
        if (op == "ls")
            return QDir(gpioDir + w.value(1))
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                .join(',');
        return "BADSTEP:" + op;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
        m_recordSize = m_board.state().value_or(QJsonObject()).value("evdevRecordSize").toInt();
        QVERIFY(m_recordSize == 24 || m_recordSize == 16);
        // No SA_RESTART: an interrupted read must fail with EINTR.
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigaction(SIGUSR1, &sa, nullptr);
    }

    void cleanup()
    {
        if (m_background.valid() &&
            m_background.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
            qFatal("a blocked call outlived its row");
        for (int fd : qAsConst(m_fds))
            ::close(fd);
        m_fds.clear();
        QVERIFY(m_board.setDeviceGone(false) && m_board.setPosition(0));
        // Unexport what the row exported; 128 and 129 are the board's own.
        for (const QString &line : QDir(gpioDir).entryList({"gpio*"}, QDir::Dirs)) {
            if (line != "gpio128" && line != "gpio129")
                QCOMPARE(step("put unexport " + line.mid(4)), QString::number(line.size() - 4));
        }
    }

    void kernelBehaviour_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        // What a 32-bit reader (boardsim --compat32-evdev) gets instead; empty: the same.
        QTest::addColumn<QString>("compat32");
        auto row = [](const char *name, const char *script, const char *expected,
                      const char *compat32 = "") {
            QTest::newRow(name) << script << expected << compat32;
        };
        // drivers/input/evdev.c: the client's buffer and its reads.
        row("evdev_open: only what arrives after open()",
            "turn 5; open nb; read 4096; turn 1; read 4096", "EAGAIN 48", "EAGAIN 32");
        row("input_event_size: the caller's ABI decides, not its buffer",
            "open nb; turn 1; read 32; read 4096", "24 24", "32 EAGAIN");
        row("evdev_read: a buffer below one record is EINVAL", "open nb; turn 1; read 15; read 23",
            "EINVAL EINVAL", "EINVAL 16");
        // FUSE answers a read of 0 itself (fuse_direct_io) where evdev_read would say EAGAIN.
        row("fuse_direct_io: a read of 0 is 0 and takes nothing",
            "open nb; read 0; turn 1; read 0; read 48", "0 0 48", "0 0 32");
        row("evdev_read: whole records only, the rest stays queued",
            "open nb; to 7; events 30; events 30", "X=7 SYN", "X=7 SYN");
        row("input_handle_abs_change: the same position again is no event",
            "pos 5; open nb; to 5; read 4096; to 6; events 4096", "EAGAIN X=6,SYN");
        row("evdev_open: every client has its own buffer",
            "open nb; turn 40; open nb; turn 40; read#1 4096; read#0 4096", "1920 816", "1280 544");
        row("evdev_write: whole records go through the input core",
            "open nb; write 3 0 9; write 0 0 0; write 1 30 1; write 0 0 0; events 4096",
            "24 24 24 24 X=9,SYN", "16 16 16 16 X=9,SYN");
        row("evdev_write: less than one record is EINVAL", "open nb; write 3 0 9 15", "EINVAL");
        // Waiting: evdev_read and evdev_poll on the client's wait queue.
        row("evdev_poll: readable with a whole packet, writable while the device lives",
            "open nb; poll; turn 1; poll", "OUT IN|OUT");
        row("evdev_read: a blocking read waits for a packet", "open; bg read 24; turn 1; join",
            "24", "16");
        row("evdev_read: a signal ends the wait with EINTR, nothing taken",
            "open; bg read 24; signal; join; turn 1; read 48", "EINTR 48", "EINTR 32");
        row("evdev_poll: a waiting poll is woken by the packet", "open; bg poll; turn 1; join",
            "IN");
        // Removal: evdev_disconnect marks the device dead and evdev_hangup wakes the waiters.
        row("evdev_hangup: a blocked read ends with ENODEV, poll says ERR|HUP",
            "open; bg read 24; gone on; join; poll; read 24; open nb",
            "ENODEV ERR|HUP ENODEV ENOENT");
        row("evdev_connect: a device that comes back is a new one",
            "open nb; gone on; gone off; open nb; turn 1; read#1 48; read#0 48", "48 ENODEV",
            "32 ENODEV");
        // The answers themselves are tst_boardsim_core's; here they cross a real file, the
        // request's size and the 32-bit layout with them.
        row("evdev_do_ioctl: through the node, cut to the caller's buffer",
            "open nb; ioctl VERSION; ioctl NAME 8; ioctl BIT 0", "0x10001 8:boardsim 8:0,3",
            "0x10001 8:boardsim 4:0,3");
        // FUSE turns the ENOSYS of a device without autorepeat into ENOTTY (fuse_do_ioctl).
        row("evdev_do_ioctl: no autorepeat, an unknown request is EINVAL",
            "open nb; ioctl REP; ioctl 0xee", "ENOTTY EINVAL");
        // EVIOCGRAB's flag is its argument, which FUSE would copy as a pointer (EFAULT): the
        // grab relay repeats it on the node with a pointer.
        row("evdev_grab: one client has the device to itself until it lets go",
            "open nb; open nb; ioctl#0 GRAB 1; ioctl#1 GRAB 1; turn 1; read#1 48; read#0 48; "
            "ioctl#1 GRAB 0; ioctl#0 GRAB 0; turn 1; read#1 48",
            "0 EBUSY EAGAIN 48 EINVAL 0 48", "0 EBUSY EAGAIN 32 EINVAL 0 32");
        row("evdev_ioctl_handler: a removed device is ENODEV", "open nb; gone on; ioctl VERSION",
            "ENODEV");
        // drivers/gpio/gpiolib-sysfs.c, on lines the product does not use.
        row("class attributes: export and unexport are write-only, nothing else is there",
            "cat export; cat unexport; create gpio300; ls",
            "EACCES EACCES EACCES export,gpio128,gpio129,unexport");
        row("export_store: a line exports once, its files at once, an input reading 0",
            "put export 18; ls gpio18; cat gpio18/direction; cat gpio18/value; put export 18",
            "2 direction,value in\\n 0\\n EBUSY");
        row("unexport_store: only an exported line, and its directory goes",
            "put export 20; put unexport 20; put unexport 20; ls",
            "2 2 EINVAL export,gpio128,gpio129,unexport");
        // The stores' parsing is tst_boardsim_core's; here a line's files are written and read.
        row("value_store: through the line's files",
            "put export 24; put gpio24/direction out; put gpio24/value 1; cat gpio24/value",
            "2 3 1 1\\n");
        row("value_show: the board's pre-exported lines are driven low",
            "cat gpio128/direction; cat gpio128/value; cat gpio129/direction; cat gpio129/value",
            "out\\n 0\\n out\\n 0\\n");
    }

    void kernelBehaviour()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QFETCH(QString, compat32);
        if (m_qemu && script.contains("ioctl"))
            QSKIP("qemu-user answers evdev ioctls itself (ENOSYS)");
        QStringList words;
        for (const QString &s : script.split("; ")) {
            const QString word = step(s);
            if (!word.isEmpty())
                words << word;
        }
        QCOMPARE(words.join(' '), m_recordSize == 16 && !compat32.isEmpty() ? compat32 : expected);
    }

    // A board that stops under a running check makes the check fail: the client reports
    // the failure, never a count of 0.
    void stoppedBoardFailsAPendingCheck()
    {
#ifndef BOARDSIM_EXECUTABLE
        QSKIP("needs a native boardsim to stop");
#else
        QProcess sim;
        sim.start(BOARDSIM_EXECUTABLE, {"--", "sleep", "60"});
        QVERIFY(sim.waitForStarted());
        // Its files, seen through its own mount namespace. Until it has made that namespace
        // and its socket, the same path leads to the board this test runs on.
        const QString root = QString("/proc/%1/root").arg(sim.processId());
        const QString control = "/run/boardsim/control";
        QTRY_VERIFY(QFileInfo::exists(root + control) && fileId(root + control) != fileId(control));
        BoardSimClient board(root + control);
        QTRY_VERIFY(board.isAvailable());
        const int reader = ::open(path(root + "/dev/input/event0"), O_RDONLY | O_NONBLOCK);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
        QVERIFY(reader >= 0 && board.turn(1));
        QCOMPARE(board.pendingRecords(), std::optional<int>(2));
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        // With two records unread: a count of 0 would pass a check that waits for the reader.
        QVERIFY(!board.pendingRecords().has_value());
#endif
    }
};

QTEST_GUILESS_MAIN(TestBoardSimKernel)
#include "tst_boardsim_kernel.moc"
