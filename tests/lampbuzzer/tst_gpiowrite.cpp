#include "gpiowrite.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// The write rule on ordinary files, where the bytes that arrive can be read back
// without a board.
class tst_GpioWrite : public QObject
{
    Q_OBJECT
private slots:
    void init() { s_messages.clear(); }
    void writesExactlyTheGivenBytes_data();
    void writesExactlyTheGivenBytes();
    void unopenableFileIsSkippedSilently();
    void refusedWriteDoesNotLeakIntoTheNextOne();

private:
    static void collect(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        s_messages << message;
    }
    static QStringList s_messages;
};

QStringList tst_GpioWrite::s_messages;

void tst_GpioWrite::writesExactlyTheGivenBytes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("before");
    // sysfs parses each write(2) on its own: a newline or NUL would be part of it.
    QTest::newRow("line number") << QByteArray("18") << QByteArray();
    QTest::newRow("three-digit line") << QByteArray("111") << QByteArray();
    QTest::newRow("direction") << QByteArray("out") << QByteArray();
    QTest::newRow("level") << QByteArray("1") << QByteArray();
    // What was there before must not show through behind a shorter text.
    QTest::newRow("shorter than before") << QByteArray("0") << QByteArray("in\n");
}

void tst_GpioWrite::writesExactlyTheGivenBytes()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, before);
    QTemporaryDir dir;
    QFile file(dir.filePath("value"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(before);
    file.close();

    QVERIFY(writeGpio(file, text));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), text);
}

void tst_GpioWrite::unopenableFileIsSkippedSilently()
{
    // No gpioN directory: the line is not exported, or the board has no GPIO.
    QTemporaryDir dir;
    QFile file(dir.filePath("gpio132/value"));
    qInstallMessageHandler(collect);
    const bool opened = writeGpio(file, "1");
    qInstallMessageHandler(nullptr);
    QVERIFY(!opened);
    QVERIFY(!file.exists());
    QCOMPARE(s_messages, QStringList());
}

void tst_GpioWrite::refusedWriteDoesNotLeakIntoTheNextOne()
{
    // The export file object is reused for every line; on a second start the
    // kernel refuses each export, and the next line's number must still go
    // out alone. /dev/full refuses every write as the export file then does.
    QTemporaryDir dir;
    QFile file(QStringLiteral("/dev/full"));
    qInstallMessageHandler(collect);
    QVERIFY(writeGpio(file, "18"));
    qInstallMessageHandler(nullptr);
    QCOMPARE(s_messages, QStringList());

    file.setFileName(dir.filePath("export"));
    QVERIFY(writeGpio(file, "29"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("29"));
}

QTEST_GUILESS_MAIN(tst_GpioWrite)
#include "tst_gpiowrite.moc"
