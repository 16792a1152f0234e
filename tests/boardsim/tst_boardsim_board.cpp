// What boardsim's board does beyond its files' kernel behaviour (the kernel rows, kernelrows/):
// the IOC's disk under /run/media after the fake board tools run as the product runs them
// (QProcess, by name from PATH; the tools' own modes are in boardsim_cli.sh), the keypad's node
// with the panel's keys, and a board that goes away under a client.

#include "boardsimclient.h"
#include "panelkeys.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The codes set in an EVIOCGBIT or EVIOCGKEY answer: bit n of the longs is bit n % 8 of byte n / 8.
QVector<int> setBits(const unsigned char *bytes, int size)
{
    QVector<int> codes;
    for (int bit = 0; bit < size * 8; ++bit) {
        if ((bytes[bit / 8] >> (bit % 8)) & 1)
            codes << bit;
    }
    return codes;
}

constexpr int keyBytes = KEY_MAX / 8 + 1;

} // namespace

constexpr int iocDelayMs = 200; // as CMakeLists.txt sets it

class TestBoardSimBoard : public QObject
{
    Q_OBJECT
    BoardSimClient m_board;
    int m_fd = -1; // the keypad's node

    static int run(const QString &command)
    {
        QStringList args = command.split(' ');
        return QProcess::execute(args.takeFirst(), args);
    }
    static QString mediaFiles()
    {
        QStringList found;
        for (const QFileInfo &d :
             QDir("/run/media").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            found << d.fileName() + "/" + QDir(d.filePath()).entryList(QDir::Files).join(',');
        return found.join(' ');
    }
    // Which file a path leads to (device and inode); {0, 0} for none.
    static std::pair<dev_t, ino_t> fileId(const QString &name)
    {
        struct stat st = {};
        if (::stat(QFile::encodeName(name).constData(), &st) != 0)
            return {0, 0};
        return {st.st_dev, st.st_ino};
    }

    // Type, code and value of each record queued; the client's calls return once the
    // records are readable, so no wait.
    QVector<int> records()
    {
        QVector<int> found;
        input_event event{};
        while (::read(m_fd, &event, sizeof(event)) == ssize_t(sizeof(event)))
            found << event.type << event.code << event.value;
        return found;
    }
    // qemu-user (7.2) answers the keypad's EVIOCGBIT, EVIOCGNAME and EVIOCGKEY itself with
    // ENOSYS; the keypad's reader on the board is Qt, native there.
    static bool ioctlsReachTheNode()
    {
        return !qEnvironmentVariable("CHECKMODE_TEST_EMULATOR").contains("qemu");
    }
    static QVector<int> tap(int code)
    {
        return {EV_KEY, code, 1, EV_SYN, SYN_REPORT, 0, EV_KEY, code, 0, EV_SYN, SYN_REPORT, 0};
    }

private slots:
    void initTestCase() { QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError())); }

    void init()
    {
        m_fd = ::open("/dev/input/event1", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY2(m_fd >= 0, qPrintable(qt_error_string(errno)));
    }

    void cleanup()
    {
        ::close(m_fd);
        QVERIFY(m_board.setScenario("ioc", "present"));
        QCOMPARE(run("iocboot -f") + run("usbswitch -f"), 0);
        QCOMPARE(mediaFiles(), QString());
    }

    void iocDisk_data()
    {
        // ioc scenario | commands run | the disk's files after the automounter's delay
        QTest::addColumn<QString>("row");
        QTest::newRow("present") << "present | usbswitch -i,iocboot -i | sda1/firmware.bin";
        QTest::newRow("upper case") << "upper | usbswitch -i,iocboot -i | SDA1/firmware.bin";
        QTest::newRow("second") << "second | usbswitch -i,iocboot -i | sda1/ sdb1/firmware.bin";
        QTest::newRow("absent") << "absent | usbswitch -i,iocboot -i | ";
        // The disk needs both the USB switched to the IOC and the IOC booted.
        QTest::newRow("boot only") << "present | iocboot -i | ";
        QTest::newRow("switch only") << "present | usbswitch -i | ";
        QTest::newRow("switched back in time")
            << "present | usbswitch -i,iocboot -i,usbswitch -f | ";
    }

    void iocDisk()
    {
        QFETCH(QString, row);
        const QString ioc = row.section(" | ", 0, 0), commands = row.section(" | ", 1, 1);
        const QString files = row.section(" | ", 2);
        QVERIFY(m_board.setScenario("ioc", ioc));
        QElapsedTimer timer;
        timer.start();
        for (const QString &c : commands.split(','))
            QCOMPARE(run(c), 0);
        QCOMPARE(mediaFiles(), QString()); // not before the automounter's delay
        if (files.isEmpty()) {
            QTest::qWait(iocDelayMs * 3);
            QCOMPARE(mediaFiles(), QString());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(mediaFiles(), files, 5000);
        QVERIFY(timer.elapsed() >= iocDelayMs);
        // Back to the board's own firmware: the disk goes at once.
        QCOMPARE(run("iocboot -f"), 0);
        QCOMPARE(mediaFiles(), QString());
        // /run/media is an ordinary tmpfs besides.
        QVERIFY(QDir().mkpath("/run/media/sdc1") && QDir("/run/media/sdc1").removeRecursively());
    }

    void advertisesThePanelKeysAndItsName()
    {
        if (!ioctlsReachTheNode())
            QSKIP("qemu-user answers the keypad's ioctls itself");
        unsigned char types[8] = {}, keys[keyBytes] = {};
        QVERIFY(::ioctl(m_fd, EVIOCGBIT(0, sizeof(types)), types) >= 0);
        QCOMPARE(setBits(types, sizeof(types)), (QVector<int>{EV_SYN, EV_KEY}));
        QVERIFY(::ioctl(m_fd, EVIOCGBIT(EV_KEY, sizeof(keys)), keys) >= 0);
        QVector<int> expected;
        for (const board::PanelKey &key : board::panelKeys())
            expected << key.linuxKey;
        std::sort(expected.begin(), expected.end());
        QCOMPARE(setBits(keys, keyBytes), expected);
        QCOMPARE(expected.size(), 32); // 31 keys of the keyboard test and clear
        // Qt's and libinput's keyboard discovery look for a Q key: the keypad
        // has none, so only a node named to them is read.
        QVERIFY(!expected.contains(KEY_Q));

        char name[64] = {};
        QVERIFY(::ioctl(m_fd, EVIOCGNAME(sizeof(name)), name) > 0);
        QCOMPARE(QByteArray(name), QByteArray("boardsim front-panel keypad"));
    }

    void tapsEveryKeyAsPressReleaseAndSync_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        for (const board::PanelKey &key : board::panelKeys())
            QTest::newRow(key.name) << QString::fromLatin1(key.name) << key.linuxKey;
        // Names are matched without regard to case.
        QTest::newRow("CLEAR") << QStringLiteral("CLEAR") << int(KEY_BACKSPACE);
        QTest::newRow("enter") << QStringLiteral("enter") << int(KEY_ENTER);
        // Keys the panel has not (press and tap find a key alike) are refused, and no record
        // reaches the reader.
        for (const char *missing : {"Q", "F11", "KPEnter"})
            QTest::newRow(missing) << QString(missing) << 0;
    }
    void tapsEveryKeyAsPressReleaseAndSync()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QVERIFY2(m_board.tapKey(name) == (code != 0), qPrintable(m_board.lastError()));
        QCOMPARE(records(), code ? tap(code) : QVector<int>());
    }

    void heldKeyShowsInKeyStateAndPressesOnce()
    {
        if (!ioctlsReachTheNode())
            QSKIP("qemu-user answers the keypad's ioctls itself");
        // Records are read before each EVIOCGKEY, which, as in the kernel,
        // drops the key records still queued for the reader.
        QVERIFY(m_board.pressKey(QStringLiteral("Stop")));
        // A second press of a held key changes nothing, so the input core
        // drops it.
        QVERIFY(m_board.pressKey(QStringLiteral("Stop")));
        QCOMPARE(records(), tap(KEY_PAUSE).mid(0, 6));
        unsigned char keys[keyBytes] = {};
        QVERIFY(::ioctl(m_fd, EVIOCGKEY(sizeof(keys)), keys) >= 0);
        QCOMPARE(setBits(keys, keyBytes), QVector<int>{KEY_PAUSE});

        QVERIFY(m_board.releaseKey(QStringLiteral("Stop")));
        QCOMPARE(records(), tap(KEY_PAUSE).mid(6));
        QVERIFY(::ioctl(m_fd, EVIOCGKEY(sizeof(keys)), keys) >= 0);
        QCOMPARE(setBits(keys, keyBytes), QVector<int>());
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
        const int reader =
            ::open(QFile::encodeName(root + "/dev/input/event0"), O_RDONLY | O_NONBLOCK);
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

QTEST_GUILESS_MAIN(TestBoardSimBoard)
#include "tst_boardsim_board.moc"
