// The simulated evdev node of the rotary encoder, checked with plain
// open/read/poll/ioctl calls against what the kernel's evdev does.

#include "boardsimclient.h"

#include <QtTest>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <linux/input.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const char eventPath[] = "/dev/input/event0";

struct ReadResult
{
    ssize_t count;
    int error;
    QByteArray data;
};

ReadResult readEvents(int fd, size_t size)
{
    QByteArray buf(int(size), '\0');
    ssize_t n = ::read(fd, buf.data(), size);
    int err = errno;
    buf.resize(n > 0 ? int(n) : 0);
    return {n, n < 0 ? err : 0, buf};
}

input_event eventAt(const QByteArray &data, int index)
{
    input_event ev{};
    std::memcpy(&ev, data.constData() + index * int(sizeof(ev)), sizeof(ev));
    return ev;
}

void onSignal(int) {}

} // namespace

class TestBoardSimEvdev : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void blockedReadGetsQueuedRecord();
    void signalInterruptsBlockedRead();
    void readSizes_data();
    void readSizes();
    void nonBlockingReadWithNothingQueued();
    void pollReportsReadiness();
    void absInfo_data();
    void absInfo();
    void absInfoCanFail();
    void everyOpenFileGetsEveryRecord();
    void recordsWaitForTheNextReader();
    void deviceVanishes();

private:
    int openDevice(int flags = O_RDWR);
    BoardSimClient m_board;
};

int TestBoardSimEvdev::openDevice(int flags)
{
    return ::open(eventPath, flags | O_CLOEXEC);
}

void TestBoardSimEvdev::initTestCase()
{
    QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
    // A handler without SA_RESTART: an interrupted read must fail with EINTR.
    struct sigaction sa
    {
    };
    sa.sa_handler = onSignal;
    sigaction(SIGUSR1, &sa, nullptr);
}

// Records left from an earlier test wait for the next reader; drain them.
void TestBoardSimEvdev::init()
{
    QVERIFY(m_board.setDeviceGone(false));
    QVERIFY(m_board.setIoctlFails(false));
    int fd = openDevice(O_RDONLY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    while (readEvents(fd, 4096).count > 0) {
    }
    ::close(fd);
    QCOMPARE(m_board.pendingRecords(), 0);
}

void TestBoardSimEvdev::blockedReadGetsQueuedRecord()
{
    int fd = openDevice();
    QVERIFY(fd >= 0);
    QVERIFY(m_board.turnTo(40));
    QCOMPARE(readEvents(fd, 48).count, 48);
    auto reader = std::async(std::launch::async, [fd] { return readEvents(fd, 24 * 8); });
    QVERIFY(reader.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout);
    QVERIFY(m_board.turn(1));
    QVERIFY(reader.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    ReadResult r = reader.get();
    // One step: the new position, then the report that ends the packet.
    QCOMPARE(r.count, ssize_t(48));
    input_event abs = eventAt(r.data, 0);
    input_event syn = eventAt(r.data, 1);
    QCOMPARE(int(abs.type), int(EV_ABS));
    QCOMPARE(int(abs.code), int(ABS_X));
    QCOMPARE(abs.value, 41);
    QCOMPARE(int(syn.type), int(EV_SYN));
    QCOMPARE(int(syn.code), int(SYN_REPORT));
    QVERIFY(abs.input_event_sec > 0);
    ::close(fd);
}

void TestBoardSimEvdev::signalInterruptsBlockedRead()
{
    int fd = openDevice();
    QVERIFY(fd >= 0);
    std::promise<pthread_t> threadId;
    auto reader = std::async(std::launch::async, [fd, &threadId] {
        threadId.set_value(pthread_self());
        return readEvents(fd, 24);
    });
    pthread_t thread = threadId.get_future().get();
    QVERIFY(reader.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout);
    pthread_kill(thread, SIGUSR1);
    if (reader.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        m_board.turn(1); // free the reader so that the test can end
        reader.wait();
        QFAIL("the signal did not interrupt the blocked read");
    }
    ReadResult r = reader.get();
    QCOMPARE(r.count, ssize_t(-1));
    QCOMPARE(r.error, EINTR);
    // The interrupted read consumed nothing.
    QVERIFY(m_board.turn(1));
    QCOMPARE(readEvents(fd, 48).count, ssize_t(48));
    ::close(fd);
}

void TestBoardSimEvdev::readSizes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("recordSize");
    // Two records are queued (one step). Native records: as many whole ones as fit.
    QTest::newRow("one native") << 24 << 24 << 24;
    QTest::newRow("two native") << 48 << 48 << 24;
    QTest::newRow("room for three") << 72 << 48 << 24;
    QTest::newRow("odd size above one") << 30 << 24 << 24;
    // A 32-bit reader's multiples of 16 get 16-byte records.
    QTest::newRow("one 32-bit") << 16 << 16 << 16;
    QTest::newRow("two 32-bit") << 32 << 32 << 16;
    QTest::newRow("room for four 32-bit") << 64 << 32 << 16;
    // Smaller than any record: EINVAL; zero reads nothing.
    QTest::newRow("too small") << 8 << -EINVAL << 0;
    QTest::newRow("between sizes") << 20 << -EINVAL << 0;
    QTest::newRow("zero") << 0 << 0 << 0;
}

void TestBoardSimEvdev::readSizes()
{
    QFETCH(int, size);
    QFETCH(int, result);
    QFETCH(int, recordSize);
    int fd = openDevice();
    QVERIFY(fd >= 0);
    QVERIFY(m_board.turnTo(7));
    ReadResult r = readEvents(fd, size_t(size));
    QCOMPARE(r.count < 0 ? -r.error : int(r.count), result);
    if (recordSize == 16) {
        // tv_sec and tv_usec as 32-bit, then type, code, value.
        uint16_t type = 0;
        int32_t value = 0;
        std::memcpy(&type, r.data.constData() + 8, 2);
        std::memcpy(&value, r.data.constData() + 12, 4);
        QCOMPARE(int(type), int(EV_ABS));
        QCOMPARE(value, 7);
    } else if (recordSize == 24) {
        QCOMPARE(eventAt(r.data, 0).value, 7);
    }
    ::close(fd);
}

void TestBoardSimEvdev::nonBlockingReadWithNothingQueued()
{
    int fd = openDevice(O_RDWR | O_NONBLOCK);
    QVERIFY(fd >= 0);
    ReadResult r = readEvents(fd, 24);
    QCOMPARE(r.error, EAGAIN);
    QVERIFY(m_board.turn(1));
    QCOMPARE(readEvents(fd, 24).count, ssize_t(24));
    ::close(fd);

    // Switched to non-blocking after the open, as a reader with a poll loop does.
    fd = openDevice();
    QVERIFY(fd >= 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    QCOMPARE(readEvents(fd, 24).error, EAGAIN);
    ::close(fd);
}

void TestBoardSimEvdev::pollReportsReadiness()
{
    int fd = openDevice();
    QVERIFY(fd >= 0);
    pollfd pfd{fd, POLLIN, 0};
    QCOMPARE(::poll(&pfd, 1, 0), 0);
    // A poll already waiting is woken by the record.
    auto poller = std::async(std::launch::async, [fd] {
        pollfd p{fd, POLLIN, 0};
        int n = ::poll(&p, 1, 5000);
        return n == 1 ? int(p.revents) : -1;
    });
    QVERIFY(poller.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout);
    QVERIFY(m_board.turn(-1));
    QVERIFY(poller.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    QVERIFY(poller.get() & POLLIN);
    QCOMPARE(readEvents(fd, 48).count, ssize_t(48));
    pfd.revents = 0;
    QCOMPARE(::poll(&pfd, 1, 0), 0);
    ::close(fd);
}

void TestBoardSimEvdev::absInfo_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("argument");
    QTest::addColumn<int>("expected");
    QTest::newRow("turn to") << "turnTo" << 100 << 100;
    QTest::newRow("set without record") << "setPosition" << -5 << -5;
    QTest::newRow("three steps from 10") << "turn" << 3 << 13;
    QTest::newRow("two steps back from 10") << "turn" << -2 << 8;
}

void TestBoardSimEvdev::absInfo()
{
    QFETCH(QString, how);
    QFETCH(int, argument);
    QFETCH(int, expected);
    QVERIFY(m_board.setPosition(10));
    if (how == "turnTo")
        QVERIFY(m_board.turnTo(argument));
    else if (how == "turn")
        QVERIFY(m_board.turn(argument));
    else
        QVERIFY(m_board.setPosition(argument));
    int fd = openDevice();
    QVERIFY(fd >= 0);
    input_absinfo info{};
    QCOMPARE(::ioctl(fd, EVIOCGABS(ABS_X), &info), 0);
    QCOMPARE(info.value, expected);
    QCOMPARE(info.minimum, INT_MIN);
    QCOMPARE(info.maximum, INT_MAX);
    QCOMPARE(m_board.position(), expected);
    ::close(fd);
}

void TestBoardSimEvdev::absInfoCanFail()
{
    int fd = openDevice();
    QVERIFY(fd >= 0);
    input_absinfo info{};
    QVERIFY(m_board.setIoctlFails(true));
    QCOMPARE(::ioctl(fd, EVIOCGABS(ABS_X), &info), -1);
    QCOMPARE(errno, ENOTTY);
    QVERIFY(m_board.setIoctlFails(false));
    QCOMPARE(::ioctl(fd, EVIOCGABS(ABS_X), &info), 0);
    // Requests evdev does not know fail as the kernel's do.
    int dummy = 0;
    QCOMPARE(::ioctl(fd, _IOR('E', 0xee, int), &dummy), -1);
    QCOMPARE(errno, EINVAL);
    ::close(fd);
}

void TestBoardSimEvdev::everyOpenFileGetsEveryRecord()
{
    int first = openDevice();
    int second = openDevice(O_RDONLY);
    QVERIFY(first >= 0 && second >= 0);
    QVERIFY(m_board.queueRecord(EV_KEY, BTN_LEFT, 1));
    QCOMPARE(m_board.pendingRecords(), 1);
    ReadResult a = readEvents(first, 24);
    QCOMPARE(m_board.pendingRecords(), 0); // read by someone
    ReadResult b = readEvents(second, 24);
    QCOMPARE(a.data, b.data);
    QCOMPARE(int(eventAt(a.data, 0).code), int(BTN_LEFT));
    ::close(first);
    ::close(second);
}

void TestBoardSimEvdev::recordsWaitForTheNextReader()
{
    QVERIFY(m_board.turn(2));
    QCOMPARE(m_board.pendingRecords(), 4);
    int fd = openDevice(O_RDONLY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(readEvents(fd, 24 * 10).count, ssize_t(24 * 4));
    ::close(fd);
}

void TestBoardSimEvdev::deviceVanishes()
{
    int fd = openDevice();
    QVERIFY(fd >= 0);
    auto reader = std::async(std::launch::async, [fd] { return readEvents(fd, 24); });
    QVERIFY(reader.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout);
    QVERIFY(m_board.setDeviceGone(true));
    QVERIFY(reader.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    QCOMPARE(reader.get().error, ENODEV);
    // For good on this descriptor, and the node is gone.
    pollfd pfd{fd, POLLIN, 0};
    QCOMPARE(::poll(&pfd, 1, 1000), 1);
    QCOMPARE(pfd.revents & (POLLERR | POLLHUP), POLLERR | POLLHUP);
    QCOMPARE(readEvents(fd, 24).error, ENODEV);
    input_absinfo info{};
    QCOMPARE(::ioctl(fd, EVIOCGABS(ABS_X), &info), -1);
    QCOMPARE(errno, ENODEV);
    QCOMPARE(openDevice(), -1);
    QCOMPARE(errno, ENOENT);
    QVERIFY(::access(eventPath, F_OK) != 0);
    // Plugged in again: new opens work, the old descriptor stays dead.
    QVERIFY(m_board.setDeviceGone(false));
    int again = openDevice();
    QVERIFY(again >= 0);
    QVERIFY(m_board.turn(1));
    QCOMPARE(readEvents(again, 48).count, ssize_t(48));
    QCOMPARE(readEvents(fd, 24).error, ENODEV);
    ::close(again);
    ::close(fd);
}

QTEST_GUILESS_MAIN(TestBoardSimEvdev)
#include "tst_boardsim_evdev.moc"
