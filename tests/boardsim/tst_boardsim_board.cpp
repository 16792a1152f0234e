// What boardsim's board does beyond its files' kernel behaviour (the kernel rows, kernelrows/):
// the IOC's disk under /run/media after the fake board tools run as the product runs them
// (QProcess, by name from PATH; the tools' own modes are in boardsim_cli.sh), and a board that
// goes away under a client.

#include "boardsimclient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

constexpr int iocDelayMs = 200; // as CMakeLists.txt sets it

class TestBoardSimBoard : public QObject
{
    Q_OBJECT
    BoardSimClient m_board;

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

private slots:
    void initTestCase() { QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError())); }

    void cleanup()
    {
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
