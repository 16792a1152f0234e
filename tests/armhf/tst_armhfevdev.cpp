#include <boardsimclient.h>

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

// The simulated encoder node as a 32-bit ARM program sees it. The kernel
// serves a 32-bit process 16-byte records through its compat path; the
// simulator tells such a reader apart by the size of its read, which qemu-arm
// passes on unchanged.
class tst_armhfevdev : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void readServesWholeBoardRecords_data();
    void readServesWholeBoardRecords();
    void absAxisQueryAnswersPosition_data();
    void absAxisQueryAnswersPosition();

private:
    BoardSimClient m_board;
    int m_fd = -1;
};

static const char deviceName[] = "/dev/input/event0";

// qemu-user (7.2, Debian 12) has no translation for the evdev ioctls: it
// answers EVIOCGABS itself with ENOSYS and never passes it to the device.
// CTest names the emulator here when it runs the ARM binaries through one.
static bool underQemuUser()
{
    return qEnvironmentVariable("CHECKMODE_TEST_EMULATOR").contains(QLatin1String("qemu"));
}

void tst_armhfevdev::initTestCase()
{
    QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
}

void tst_armhfevdev::init()
{
    // Non-blocking, so that a record the simulator failed to queue shows up
    // as EAGAIN instead of a test that hangs.
    m_fd = ::open(deviceName, O_RDWR | O_NONBLOCK);
    QVERIFY2(m_fd >= 0, strerror(errno));
}

void tst_armhfevdev::cleanup()
{
    if (m_fd < 0)
        return;
    // Leave no record behind for the next row.
    input_event record;
    while (::read(m_fd, &record, sizeof record) > 0) {
    }
    ::close(m_fd);
    m_fd = -1;
}

void tst_armhfevdev::readServesWholeBoardRecords_data()
{
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<QVector<int>>("values"); // one EV_ABS/ABS_X record each
    QTest::addColumn<int>("expectedResult");  // bytes read, or -errno

    // Whole 16-byte records, as many as fit.
    QTest::newRow("one record, one-record buffer") << 16 << QVector<int>{70000} << 16;
    QTest::newRow("two records, two-record buffer") << 32 << QVector<int>{-5, 6} << 32;
    // The second record stays queued for the next read.
    QTest::newRow("two records, one-record buffer") << 16 << QVector<int>{1, 2} << 16;

    // Too small for one record: the kernel refuses before looking at the queue.
    QTest::newRow("buffer smaller than a record") << 15 << QVector<int>{4} << -EINVAL;
}

void tst_armhfevdev::readServesWholeBoardRecords()
{
    QFETCH(int, bufferSize);
    QFETCH(QVector<int>, values);
    QFETCH(int, expectedResult);

    for (int value : values)
        QVERIFY2(m_board.queueRecord(EV_ABS, ABS_X, value), qPrintable(m_board.lastError()));

    QByteArray buffer(64, '\0');
    const ssize_t got = ::read(m_fd, buffer.data(), size_t(bufferSize));
    QCOMPARE(got < 0 ? -errno : int(got), expectedResult);

    // The records decode at the board's offsets: type at 8, code at 10, value at 12.
    for (int i = 0; i < int(got) / 16; ++i) {
        input_event record;
        std::memcpy(&record, buffer.constData() + i * 16, sizeof record);
        QCOMPARE(int(record.type), EV_ABS);
        QCOMPARE(int(record.code), ABS_X);
        QCOMPARE(int(record.value), values.at(i));
    }
}

void tst_armhfevdev::absAxisQueryAnswersPosition_data()
{
    QTest::addColumn<int>("position");

    QTest::newRow("positive") << 1234;
    QTest::newRow("negative") << -7; // value is a signed field
    // The device keeps the full count; only the reader cuts it to 16 bits.
    QTest::newRow("past 16 bits") << 70000;
}

void tst_armhfevdev::absAxisQueryAnswersPosition()
{
    QFETCH(int, position);

    QVERIFY2(m_board.setPosition(position), qPrintable(m_board.lastError()));
    input_absinfo absinfo{};
    absinfo.value = position + 1; // anything but the answer
    errno = 0;
    const int result = ::ioctl(m_fd, EVIOCGABS(ABS_X), &absinfo);
    if (underQemuUser()) {
        // The reader then logs its ioctl error and takes the first record as
        // its start, as it does on a device without the axis; the board itself
        // answers the query. An unexpected pass means qemu learnt the ioctl.
        QCOMPARE(errno, ENOSYS);
        QEXPECT_FAIL("", "qemu-user does not pass EVIOCGABS to the device (ENOSYS)", Abort);
    }
    QCOMPARE(result, 0);
    QCOMPARE(absinfo.value, position);
}

QTEST_GUILESS_MAIN(tst_armhfevdev)
#include "tst_armhfevdev.moc"
