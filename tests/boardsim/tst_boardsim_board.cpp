// The IOC's disk under /run/media, after the fake board tools run as the product runs them
// (QProcess, by name from PATH); the tools' own modes are in boardsim_cli.sh.

#include "boardsimclient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

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
};

QTEST_GUILESS_MAIN(TestBoardSimBoard)
#include "tst_boardsim_board.moc"
