// The simulated sysfs GPIO, checked with plain system calls against the kernel's own.

#include "boardsimclient.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class TestBoardSimGpio : public QObject
{
    Q_OBJECT
    BoardSimClient m_board;

    static QByteArray at(const QString &path) { return "/sys/class/gpio/" + path.toUtf8(); }
    static QStringList ls(const QString &path)
    {
        return QDir(at(path)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    // open (as QFile does, with O_TRUNC, unless told), one write, close: the count or -errno.
    static int put(const QString &path, const QString &data, int flags = O_WRONLY | O_TRUNC)
    {
        const QByteArray bytes = data.toUtf8();
        int fd = ::open(at(path).constData(), flags | O_CLOEXEC, 0644);
        ssize_t n = fd < 0 ? -1 : ::write(fd, bytes.constData(), size_t(bytes.size()));
        int res = n < 0 ? -errno : int(n);
        if (fd >= 0)
            ::close(fd);
        return res;
    }
    // A file of the line read back as QFile reads it; "?" when it cannot be opened.
    static QByteArray cat(int line, const char *file)
    {
        QFile f(at(QString("gpio%1/%2").arg(line).arg(file)));
        return f.open(QFile::ReadOnly) ? f.readAll() : "?";
    }
    static QByteArray state(int line) { return cat(line, "direction") + cat(line, "value"); }

private slots:
    void initTestCase() { QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError())); }

    void boardExportsItsLines()
    {
        // 128 and 129, driven low, before the product runs; no other line.
        QCOMPARE(ls(""), QStringList({"export", "gpio128", "gpio129", "unexport"}));
        QCOMPARE(state(128) + state(129), QByteArray("out\n0\nout\n0\n"));
        // export and unexport cannot be read (kernfs: no show method); userspace creates nothing.
        QCOMPARE(put("export", "", O_RDONLY), -EACCES);
        QCOMPARE(put("unexport", "", O_RDWR), -EACCES);
        QCOMPARE(put("gpio300", "", O_WRONLY | O_CREAT), -EACCES);
    }

    void exportWrites_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<int>("result");
        // As the kernel's kstrtol(buf, 0): with or without one line end, any base, 0..255.
        QTest::newRow("decimal") << "18" << 2;
        QTest::newRow("line end") << "29\n" << 3;
        QTest::newRow("hex") << "0x31" << 4;
        QTest::newRow("first line") << "0" << 1;
        QTest::newRow("last line") << "255" << 3;
        // Anything else is EINVAL, for unexport too.
        QTest::newRow("past last line") << "256" << -EINVAL;
        QTest::newRow("negative") << "-1" << -EINVAL;
        QTest::newRow("word") << "gpio50" << -EINVAL;
        QTest::newRow("leading space") << " 51" << -EINVAL;
        QTest::newRow("two line ends") << "54\n\n" << -EINVAL;
    }

    void exportWrites()
    {
        QFETCH(QString, data);
        QFETCH(int, result);
        QCOMPARE(put("export", data), result);
        const int line = data.trimmed().toInt(nullptr, 0);
        if (result < 0) {
            QCOMPARE(ls("").size(), 4);
            QCOMPARE(put("unexport", data), -EINVAL);
            return;
        }
        // At once, as in the kernel: the very next open finds the line's files.
        QCOMPARE(ls(QString("gpio%1").arg(line)), QStringList({"direction", "value"}));
        QCOMPARE(state(line), QByteArray("in\n0\n"));
        QCOMPARE(m_board.gpioLine(line).value_or(BoardSimClient::GpioLine()).direction,
                 QString("in"));
        QCOMPARE(put("export", data), -EBUSY);
        QCOMPARE(put("unexport", data), result);
        QCOMPARE(ls(""), QStringList({"export", "gpio128", "gpio129", "unexport"}));
        QCOMPARE(put("unexport", data), -EINVAL); // no longer exported
    }

    void lineWrites_data()
    {
        QTest::addColumn<QStringList>("writes"); // file:bytes to gpio62, in order
        QTest::addColumn<int>("result");         // of the last write
        QTest::addColumn<QString>("state");      // direction and value read back
        // The kernel's four directions, with or without one line end; "out" drives low.
        QTest::newRow("in") << QStringList{"direction:in"} << 2 << "in\n0\n";
        QTest::newRow("out") << QStringList{"direction:out\n"} << 4 << "out\n0\n";
        QTest::newRow("high") << QStringList{"direction:high"} << 4 << "out\n1\n";
        QTest::newRow("low") << QStringList{"direction:low\n"} << 4 << "out\n0\n";
        QTest::newRow("high, out")
            << QStringList{"direction:high", "direction:out"} << 3 << "out\n0\n";
        // Any other direction is EINVAL and leaves an input.
        QTest::newRow("capitals") << QStringList{"direction:OUT"} << -EINVAL << "in\n0\n";
        QTest::newRow("junk") << QStringList{"direction:outx"} << -EINVAL << "in\n0\n";
        QTest::newRow("space") << QStringList{"direction: in"} << -EINVAL << "in\n0\n";
        QTest::newRow("CR") << QStringList{"direction:out\r\n"} << -EINVAL << "in\n0\n";
        // An output takes 0 and 1, with or without a line end; else EINVAL, keeping the level.
        QTest::newRow("1") << QStringList{"direction:out", "value:1"} << 1 << "out\n1\n";
        QTest::newRow("1 line end") << QStringList{"direction:out", "value:1\n"} << 2 << "out\n1\n";
        QTest::newRow("0") << QStringList{"direction:high", "value:0"} << 1 << "out\n0\n";
        QTest::newRow("2") << QStringList{"direction:out", "value:2"} << -EINVAL << "out\n0\n";
        QTest::newRow("on") << QStringList{"direction:high", "value:on"} << -EINVAL << "out\n1\n";
        QTest::newRow("empty") << QStringList{"direction:out", "value:\n"} << -EINVAL << "out\n0\n";
        // An input cannot be driven.
        QTest::newRow("input") << QStringList{"direction:in", "value:1"} << -EPERM << "in\n0\n";
    }

    void lineWrites()
    {
        QFETCH(QStringList, writes);
        QFETCH(int, result);
        QFETCH(QString, state);
        QCOMPARE(put("export", "62"), 2);
        int res = 0;
        for (const QString &w : writes) {
            QVERIFY(res >= 0);
            res = put("gpio62/" + w.section(':', 0, 0), w.section(':', 1));
        }
        QCOMPARE(res, result);
        QCOMPARE(TestBoardSimGpio::state(62), state.toUtf8());
        QCOMPARE(put("unexport", "62"), 2);
    }
};

QTEST_GUILESS_MAIN(TestBoardSimGpio)
#include "tst_boardsim_gpio.moc"
