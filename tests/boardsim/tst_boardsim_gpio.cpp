// The simulated sysfs GPIO interface, checked with plain system calls the way
// the kernel's own interface behaves.

#include "boardsimclient.h"
#include "sysfile.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray linePath(int line, const char *file)
{
    return QByteArray("/sys/class/gpio/gpio") + QByteArray::number(line) + "/" + file;
}

QByteArray readLine(int line, const char *file)
{
    QByteArray data;
    int res = SysFile::read(linePath(line, file).constData(), &data);
    return res < 0 ? QByteArray("errno ") + QByteArray::number(-res) : data;
}

} // namespace

class TestBoardSimGpio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void preExportedLines_data();
    void preExportedLines();
    void exportWrites_data();
    void exportWrites();
    void exportAndUnexportTwice();
    void directionWrites_data();
    void directionWrites();
    void valueWrites_data();
    void valueWrites();
    void kernelOnlyFiles_data();
    void kernelOnlyFiles();
    void listingShowsExportedLines();
    void transcriptHasExactBytes();

private:
    BoardSimClient m_board;
};

void TestBoardSimGpio::initTestCase()
{
    QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
}

void TestBoardSimGpio::preExportedLines_data()
{
    QTest::addColumn<int>("line");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("expected");
    // Exported by the board before the product runs, driven low.
    QTest::newRow("128 direction") << 128 << QByteArray("direction") << QByteArray("out\n");
    QTest::newRow("128 value") << 128 << QByteArray("value") << QByteArray("0\n");
    QTest::newRow("129 direction") << 129 << QByteArray("direction") << QByteArray("out\n");
    QTest::newRow("129 value") << 129 << QByteArray("value") << QByteArray("0\n");
    // Every other line is unexported: no directory.
    QTest::newRow("18 not exported")
        << 18 << QByteArray("direction") << QByteArray("errno ") + QByteArray::number(ENOENT);
    QTest::newRow("130 not exported")
        << 130 << QByteArray("value") << QByteArray("errno ") + QByteArray::number(ENOENT);
}

void TestBoardSimGpio::preExportedLines()
{
    QFETCH(int, line);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, expected);
    QCOMPARE(readLine(line, file.constData()), expected);
}

void TestBoardSimGpio::exportWrites_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("result");
    // Accepted as the kernel's kstrtol(buf, 0) does: with or without a newline, any base.
    QTest::newRow("decimal") << QByteArray("18") << 18 << 2;
    QTest::newRow("decimal newline") << QByteArray("29\n") << 29 << 3;
    QTest::newRow("hex") << QByteArray("0x31") << 49 << 4;
    QTest::newRow("line 0") << QByteArray("0") << 0 << 1;
    QTest::newRow("last line") << QByteArray("255") << 255 << 3;
    // Rejected with EINVAL: not a number, or no such line.
    QTest::newRow("past last line") << QByteArray("256") << -1 << -EINVAL;
    QTest::newRow("negative") << QByteArray("-1") << -1 << -EINVAL;
    QTest::newRow("word") << QByteArray("gpio50") << -1 << -EINVAL;
    QTest::newRow("leading space") << QByteArray(" 51") << -1 << -EINVAL;
    QTest::newRow("two newlines") << QByteArray("54\n\n") << -1 << -EINVAL;
    QTest::newRow("only newline") << QByteArray("\n") << -1 << -EINVAL;
}

void TestBoardSimGpio::exportWrites()
{
    QFETCH(QByteArray, data);
    QFETCH(int, line);
    QFETCH(int, result);
    QCOMPARE(SysFile::write("/sys/class/gpio/export", data), result);
    if (line < 0)
        return;
    // Synchronous like the kernel: the very next open finds the new files.
    QCOMPARE(readLine(line, "direction"), QByteArray("in\n"));
    QCOMPARE(readLine(line, "value"), QByteArray("0\n"));
    QCOMPARE(m_board.gpioLine(line).direction, QString("in"));
    QCOMPARE(SysFile::write("/sys/class/gpio/unexport", QByteArray::number(line)),
             QByteArray::number(line).size());
}

void TestBoardSimGpio::exportAndUnexportTwice()
{
    QCOMPARE(SysFile::write("/sys/class/gpio/export", "60"), 2);
    QCOMPARE(SysFile::write("/sys/class/gpio/export", "60"), -EBUSY);
    QCOMPARE(SysFile::write("/sys/class/gpio/unexport", "60"), 2);
    QCOMPARE(readLine(60, "value"), QByteArray("errno ") + QByteArray::number(ENOENT));
    QVERIFY(!m_board.gpioLine(60).exported);
    QCOMPARE(SysFile::write("/sys/class/gpio/unexport", "60"), -EINVAL);
    QCOMPARE(SysFile::write("/sys/class/gpio/unexport", "junk"), -EINVAL);
}

void TestBoardSimGpio::directionWrites_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("direction");
    QTest::addColumn<QByteArray>("value");
    // The four words the kernel takes, with or without one line end.
    QTest::newRow("in") << QByteArray("in") << 2 << QByteArray("in\n") << QByteArray("0\n");
    QTest::newRow("out") << QByteArray("out") << 3 << QByteArray("out\n") << QByteArray("0\n");
    QTest::newRow("out newline") << QByteArray("out\n") << 4 << QByteArray("out\n")
                                 << QByteArray("0\n");
    QTest::newRow("high") << QByteArray("high") << 4 << QByteArray("out\n") << QByteArray("1\n");
    QTest::newRow("low") << QByteArray("low\n") << 4 << QByteArray("out\n") << QByteArray("0\n");
    // Anything else is EINVAL and leaves the line an input.
    QTest::newRow("capitals") << QByteArray("OUT") << -EINVAL << QByteArray("in\n")
                              << QByteArray("0\n");
    QTest::newRow("trailing junk")
        << QByteArray("outx") << -EINVAL << QByteArray("in\n") << QByteArray("0\n");
    QTest::newRow("leading space")
        << QByteArray(" in") << -EINVAL << QByteArray("in\n") << QByteArray("0\n");
    QTest::newRow("carriage return")
        << QByteArray("out\r\n") << -EINVAL << QByteArray("in\n") << QByteArray("0\n");
}

void TestBoardSimGpio::directionWrites()
{
    QFETCH(QByteArray, data);
    QFETCH(int, result);
    QFETCH(QByteArray, direction);
    QFETCH(QByteArray, value);
    QCOMPARE(SysFile::write("/sys/class/gpio/export", "62"), 2);
    QCOMPARE(SysFile::write(linePath(62, "direction").constData(), data), result);
    QCOMPARE(readLine(62, "direction"), direction);
    QCOMPARE(readLine(62, "value"), value);
    QCOMPARE(SysFile::write("/sys/class/gpio/unexport", "62"), 2);
}

void TestBoardSimGpio::valueWrites_data()
{
    QTest::addColumn<QByteArray>("direction");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("state");
    // An output takes 0 and 1, with or without a line end.
    QTest::newRow("out 1") << QByteArray("out") << QByteArray("1") << 1 << "out 1";
    QTest::newRow("out 1 newline") << QByteArray("out") << QByteArray("1\n") << 2 << "out 1";
    QTest::newRow("high 0") << QByteArray("high") << QByteArray("0") << 1 << "out 0";
    // Other values are EINVAL and keep the level.
    QTest::newRow("out 2") << QByteArray("out") << QByteArray("2") << -EINVAL << "out 0";
    QTest::newRow("high on") << QByteArray("high") << QByteArray("on") << -EINVAL << "out 1";
    QTest::newRow("out empty line") << QByteArray("out") << QByteArray("\n") << -EINVAL << "out 0";
    // An input cannot be driven.
    QTest::newRow("in 1") << QByteArray("in") << QByteArray("1") << -EPERM << "in 0";
}

void TestBoardSimGpio::valueWrites()
{
    QFETCH(QByteArray, direction);
    QFETCH(QByteArray, data);
    QFETCH(int, result);
    QFETCH(QString, state);
    QCOMPARE(SysFile::write("/sys/class/gpio/export", "63"), 2);
    QVERIFY(SysFile::write(linePath(63, "direction").constData(), direction) > 0);
    QCOMPARE(SysFile::write(linePath(63, "value").constData(), data), result);
    const BoardSimClient::GpioLine line = m_board.gpioLine(63);
    QCOMPARE(line.direction + " " + line.value, state);
    QCOMPARE(SysFile::write("/sys/class/gpio/unexport", "63"), 2);
}

void TestBoardSimGpio::kernelOnlyFiles_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("expectedErrno");
    // export and unexport cannot be read (kernfs: no show method).
    QTest::newRow("read export") << QByteArray("/sys/class/gpio/export") << int(O_RDONLY) << EACCES;
    QTest::newRow("read unexport")
        << QByteArray("/sys/class/gpio/unexport") << int(O_RDWR) << EACCES;
    // Userspace cannot create files in sysfs.
    QTest::newRow("create") << QByteArray("/sys/class/gpio/gpio300") << int(O_WRONLY | O_CREAT)
                            << EACCES;
    QTest::newRow("missing") << QByteArray("/sys/class/gpio/gpio65/value") << int(O_WRONLY)
                             << ENOENT;
}

void TestBoardSimGpio::kernelOnlyFiles()
{
    QFETCH(QByteArray, path);
    QFETCH(int, flags);
    QFETCH(int, expectedErrno);
    int fd = ::open(path.constData(), flags | O_CLOEXEC, 0644);
    int err = errno;
    if (fd >= 0)
        ::close(fd);
    QCOMPARE(fd, -1);
    QCOMPARE(err, expectedErrno);
}

void TestBoardSimGpio::listingShowsExportedLines()
{
    QCOMPARE(SysFile::write("/sys/class/gpio/export", "111"), 3);
    QStringList entries =
        QDir("/sys/class/gpio").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(entries, QStringList({"export", "gpio111", "gpio128", "gpio129", "unexport"}));
    QCOMPARE(QDir("/sys/class/gpio/gpio111").entryList(QDir::Files),
             QStringList({"direction", "value"}));
    QCOMPARE(SysFile::write("/sys/class/gpio/unexport", "111"), 3);
}

// What tests of the product rely on: the exact bytes and the order, from QFile.
void TestBoardSimGpio::transcriptHasExactBytes()
{
    QVERIFY(m_board.clearTranscript());
    auto writeWithQFile = [](const QString &path, const QByteArray &data) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    };
    QVERIFY(writeWithQFile("/sys/class/gpio/export", "132"));
    QVERIFY(writeWithQFile("/sys/class/gpio/gpio132/direction", "out"));
    QVERIFY(writeWithQFile("/sys/class/gpio/gpio132/value", "1"));
    const BoardSimClient::GpioLine line = m_board.gpioLine(132);
    QCOMPARE(line.direction + " " + line.value, QString("out 1"));

    QStringList ops;
    for (const QJsonObject &e : m_board.transcript()) {
        QCOMPARE(e.value("pid").toInt(), int(getpid()));
        QStringList fields = {e.value("op").toString(), e.value("path").toString().section('/', 4),
                              e.value("bytes").toString() + e.value("flags").toString(),
                              QString::number(e.value("result").toInt())};
        fields.removeAll(QString());
        ops << fields.join(' ');
    }
    QCOMPARE(ops, QStringList({"open export O_WRONLY|O_TRUNC 0", "write export 132 3",
                               "close export 0", "open gpio132/direction O_WRONLY|O_TRUNC 0",
                               "write gpio132/direction out 3", "close gpio132/direction 0",
                               "open gpio132/value O_WRONLY|O_TRUNC 0", "write gpio132/value 1 1",
                               "close gpio132/value 0"}));
    QCOMPARE(SysFile::write("/sys/class/gpio/unexport", "132"), 3);
}

QTEST_GUILESS_MAIN(TestBoardSimGpio)
#include "tst_boardsim_gpio.moc"
