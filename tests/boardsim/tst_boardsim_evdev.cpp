// The encoder's simulated evdev node, checked with plain calls against the kernel's evdev.

#include "boardsimclient.h"

#include <QtTest>

#include <atomic>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <future>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <vector>

class TestBoardSimEvdev : public QObject
{
    Q_OBJECT
    BoardSimClient m_board;
    int m_fd = -1; // opened blocking for each test
    QByteArray m_data;
    std::atomic<pthread_t> m_thread = {}; // that of the latest blocksUntil()

    static int open(int flags = O_RDWR) { return ::open("/dev/input/event0", flags | O_CLOEXEC); }
    static void onSignal(int) {}
    // One read of `size` bytes into m_data: the count or -errno.
    int read(int fd, int size)
    {
        std::vector<char> buf(
            static_cast<size_t>(size)); // QByteArray::data() trips GCC 12's overflow check
        ssize_t n = ::read(fd, buf.data(), buf.size());
        int res = n < 0 ? -errno : int(n);
        m_data = QByteArray(buf.data(), qMax(res, 0));
        return res;
    }
    // Type, code and value of record `i` in m_data: 24 bytes native, 16 for 32-bit readers.
    QVector<int> record(int i, int size = 24)
    {
        const char *end = m_data.constData() + ptrdiff_t(i + 1) * size;
        return {qFromUnaligned<quint16>(end - 8), qFromUnaligned<quint16>(end - 6),
                qFromUnaligned<qint32>(end - 4)};
    }
    int pollIn(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) == 1 ? p.revents : 0;
    }
    input_absinfo m_info = {};
    // qemu-user (7.2) answers EVIOCGABS itself with ENOSYS: the query never reaches the node.
    const bool m_qemu =
        qEnvironmentVariable("CHECKMODE_TEST_EMULATOR").contains(QLatin1String("qemu"));
    // What EVIOCGABS(ABS_X) answers for the position, or -errno.
    int absX() { return ::ioctl(m_fd, EVIOCGABS(ABS_X), &m_info) < 0 ? -errno : m_info.value; }
    // call() in another thread must still block after 200 ms and end within 5 s of
    // wake(): its result then, else INT_MIN.
    int blocksUntil(const std::function<int()> &call, const std::function<bool()> &wake)
    {
        auto f = std::async(std::launch::async, [&] {
            m_thread = pthread_self();
            return call();
        });
        bool blocked = f.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout;
        bool woken = wake() && f.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!woken)
            m_board.turn(1); // free it so that the test can end
        return blocked && woken ? f.get() : INT_MIN;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
        // A handler without SA_RESTART: an interrupted read must fail with EINTR.
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigaction(SIGUSR1, &sa, nullptr);
    }

    // Records left from an earlier test wait for the next reader; drain them.
    void init()
    {
        QVERIFY(m_board.setDeviceGone(false) && m_board.setIoctlFails(false));
        int fd = open(O_RDONLY | O_NONBLOCK);
        while (read(fd, 4096) > 0) {
        }
        ::close(fd);
        QCOMPARE(m_board.pendingRecords().value_or(-1), 0);
        QVERIFY((m_fd = open()) >= 0);
    }
    void cleanup() { ::close(m_fd); }

    void signalInterruptsBlockedRead()
    {
        QCOMPARE(blocksUntil([&] { return read(m_fd, 24); },
                             [&] { return pthread_kill(m_thread, SIGUSR1) == 0; }),
                 -EINTR);
        // The interrupted read consumed nothing.
        QVERIFY(m_board.turn(1));
        QCOMPARE(read(m_fd, 48), 48);
    }

    void readSizes_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("result");
        // Two records are queued (one step). Native records: as many whole ones as fit.
        QTest::newRow("one native") << 24 << 24;
        QTest::newRow("room for three") << 72 << 48;
        QTest::newRow("odd size above one") << 30 << 24;
        // A 32-bit reader's multiples of 16 get 16-byte records.
        QTest::newRow("one 32-bit") << 16 << 16;
        QTest::newRow("room for four 32-bit") << 64 << 32;
        // Smaller than any record: EINVAL; zero reads nothing.
        QTest::newRow("too small") << 8 << -EINVAL;
        QTest::newRow("between sizes") << 20 << -EINVAL;
        QTest::newRow("zero") << 0 << 0;
    }

    void readSizes()
    {
        QFETCH(int, size);
        QFETCH(int, result);
        QVERIFY(m_board.turnTo(7));
        QCOMPARE(read(m_fd, size), result);
        // One step: the new position, then the report that ends the packet.
        if (result > 0)
            QCOMPARE(record(0, result % 24 ? 16 : 24), QVector<int>({EV_ABS, ABS_X, 7}));
        if (result == 48)
            QCOMPARE(record(1), QVector<int>({EV_SYN, SYN_REPORT, 0}));
    }

    void nothingQueued()
    {
        // Non-blocking from the open, or set later as a reader with a poll loop does: EAGAIN.
        int fd = open(O_RDWR | O_NONBLOCK);
        QCOMPARE(read(fd, 24), -EAGAIN);
        ::close(fd);
        fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        QCOMPARE(read(m_fd, 24), -EAGAIN);
        QCOMPARE(pollIn(0), 0);
        // A poll already waiting is woken by the record; select sees it too.
        QVERIFY(blocksUntil([&] { return pollIn(5000); }, [&] { return m_board.turn(-1); }) &
                POLLIN);
        fd_set set{};
        FD_SET(m_fd, &set);
        timeval zero{};
        QCOMPARE(::select(m_fd + 1, &set, nullptr, nullptr, &zero), 1);
        QCOMPARE(read(m_fd, 48), 48);
    }

    void absInfo()
    {
        if (m_qemu) {
            QCOMPARE(absX(), -ENOSYS);
            QSKIP("qemu-user does not pass EVIOCGABS to the device (ENOSYS)");
        }
        QVERIFY(m_board.setPosition(10) && m_board.turn(3));
        QCOMPARE(absX(), 13);
        QVERIFY(m_board.turn(-5));
        QCOMPARE(absX(), 8);
        QVERIFY(m_board.turnTo(100));
        QCOMPARE(absX(), 100);
        QVERIFY(m_board.setPosition(-5)); // without a record
        QCOMPARE(absX(), -5);
        QCOMPARE(QVector<int>({m_info.minimum, m_info.maximum, m_board.position().value_or(-1)}),
                 QVector<int>({INT_MIN, INT_MAX, -5}));
        // Made to fail as on a device without the axis; requests evdev does not know fail.
        QVERIFY(m_board.setIoctlFails(true));
        QCOMPARE(absX(), -ENOTTY);
        QVERIFY(m_board.setIoctlFails(false));
        QCOMPARE(::ioctl(m_fd, _IOR('E', 0xee, int), &m_info) < 0 ? errno : 0, EINVAL);
    }

    void everyOpenFileGetsEveryRecord()
    {
        int second = open(O_RDONLY);
        QVERIFY(m_board.queueRecord(EV_KEY, BTN_LEFT, 1));
        QCOMPARE(m_board.pendingRecords().value_or(-1), 1);
        QCOMPARE(read(m_fd, 24), 24);
        const QByteArray first = m_data;
        QCOMPARE(m_board.pendingRecords().value_or(-1), 0); // read by someone
        QCOMPARE(read(second, 24), 24);
        QCOMPARE(m_data, first);
        QCOMPARE(record(0), QVector<int>({EV_KEY, BTN_LEFT, 1}));
        // With nobody reading, records wait for the next reader.
        ::close(second);
        ::close(m_fd);
        QVERIFY(m_board.turn(2));
        QCOMPARE(m_board.pendingRecords().value_or(-1), 4);
        QCOMPARE(read(m_fd = open(O_RDONLY | O_NONBLOCK), 24 * 10), 24 * 4);
    }

    void deviceVanishes()
    {
        QCOMPARE(blocksUntil([&] { return read(m_fd, 24); },
                             [&] { return m_board.setDeviceGone(true); }),
                 -ENODEV);
        // For good on this descriptor, and the node is gone.
        QCOMPARE(pollIn(1000) & (POLLERR | POLLHUP), POLLERR | POLLHUP);
        QCOMPARE(read(m_fd, 24), -ENODEV);
        QCOMPARE(absX(), m_qemu ? -ENOSYS : -ENODEV);
        QCOMPARE(open() < 0 ? errno : 0, ENOENT);
        // Plugged in again: new opens work, the old descriptor stays dead.
        QVERIFY(m_board.setDeviceGone(false));
        int again = open();
        QVERIFY(m_board.turn(1));
        QCOMPARE(read(again, 48), 48);
        QCOMPARE(read(m_fd, 24), -ENODEV);
        ::close(again);
    }
};

QTEST_GUILESS_MAIN(TestBoardSimEvdev)
#include "tst_boardsim_evdev.moc"
