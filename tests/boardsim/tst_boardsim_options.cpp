// boardsim's options that take parts of the board away. Each function runs
// under its own option (see CMakeLists.txt), named as the test's argument.

#include "boardsimclient.h"
#include "sysfile.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

class TestBoardSimOptions : public QObject
{
    Q_OBJECT

private slots:
    void noGpioExport();
    void noGpio();
    void refuseExport_data();
    void refuseExport();
    void noEvdev();
    void evdevIoctlFails();
    void noRunMedia();
};

// --no-gpio-export
void TestBoardSimOptions::noGpioExport()
{
    QCOMPARE(SysFile::write("/sys/class/gpio/export", "18"), -ENOENT);
    QVERIFY(QFileInfo::exists("/sys/class/gpio/gpio128/value"));
}

// --no-gpio
void TestBoardSimOptions::noGpio()
{
    QCOMPARE(QDir("/sys/class/gpio").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(SysFile::write("/sys/class/gpio/export", "18"), -ENOENT);
}

// --refuse-export 18,49
void TestBoardSimOptions::refuseExport_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("result");
    QTest::newRow("refused") << QByteArray("18") << -EINVAL;
    QTest::newRow("second refused") << QByteArray("49\n") << -EINVAL;
    QTest::newRow("others export") << QByteArray("29") << 2;
}

void TestBoardSimOptions::refuseExport()
{
    QFETCH(QByteArray, line);
    QFETCH(int, result);
    QCOMPARE(SysFile::write("/sys/class/gpio/export", line), result);
}

// --no-evdev
void TestBoardSimOptions::noEvdev()
{
    QCOMPARE(::open("/dev/input/event0", O_RDWR | O_CLOEXEC), -1);
    QCOMPARE(errno, ENOENT);
    QVERIFY(QFileInfo("/dev/input").isDir());
}

// --evdev-ioctl-fails
void TestBoardSimOptions::evdevIoctlFails()
{
    int fd = ::open("/dev/input/event0", O_RDWR | O_CLOEXEC);
    QVERIFY(fd >= 0);
    input_absinfo info{};
    QCOMPARE(::ioctl(fd, EVIOCGABS(ABS_X), &info), -1);
    QCOMPARE(errno, ENOTTY);
    ::close(fd);
}

// --no-run-media
void TestBoardSimOptions::noRunMedia()
{
    QVERIFY(!QFileInfo::exists("/run/media"));
    // The rest of /run is still there.
    QVERIFY(QFileInfo("/run/boardsim/bin/flash").isExecutable());
}

QTEST_GUILESS_MAIN(TestBoardSimOptions)
#include "tst_boardsim_options.moc"
