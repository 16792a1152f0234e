// What boardsim's files hold that no kernel row can: the board's own set-up of its lines, and
// a board that goes away under a client. The evdev and sysfs GPIO behaviour itself is the
// kernel rows' (kernelrows/), one table run here on boardsim and on a real kernel in the
// virtual board's guest.

#include "boardsimclient.h"

#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestBoardSimKernel : public QObject
{
    Q_OBJECT

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

private slots:
    // The board's init scripts export the beep and alarm sound lines as outputs, driven low,
    // before anything else runs (value_show, direction_show).
    void preExportedLinesAreLowOutputs_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        for (const QString line : {"gpio128", "gpio129"}) {
            QTest::newRow(qPrintable(line + "/direction"))
                << line + "/direction" << QByteArray("out\n");
            QTest::newRow(qPrintable(line + "/value")) << line + "/value" << QByteArray("0\n");
        }
    }

    void preExportedLinesAreLowOutputs()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFile f("/sys/class/gpio/" + file);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.errorString()));
        QCOMPARE(f.readAll(), content);
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

QTEST_GUILESS_MAIN(TestBoardSimKernel)
#include "tst_boardsim_kernel.moc"
