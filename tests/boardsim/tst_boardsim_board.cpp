// The IOC's disk under /run/media and the fake board tools, run the way the
// product runs them (QProcess, by name from PATH).

#include "boardsimclient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

namespace {

// Runs under `boardsim --set ioc-delay-ms=200 --set tool-delay-ms=300`.
constexpr int iocDelayMs = 200;
constexpr int toolDelayMs = 300;

int runTool(const QString &tool, const QStringList &args)
{
    return QProcess::execute(tool, args);
}

QStringList mediaFiles()
{
    QStringList found;
    const QDir media("/run/media");
    for (const QString &entry : media.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QStringList files = QDir(media.filePath(entry)).entryList(QDir::Files);
        found << (files.isEmpty() ? entry + "/" : entry + "/" + files.join(','));
    }
    return found;
}

} // namespace

class TestBoardSimBoard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void iocDisk_data();
    void iocDisk();
    void diskNeedsSwitchAndBoot_data();
    void diskNeedsSwitchAndBoot();
    void flashAnswers_data();
    void flashAnswers();
    void flashAnswerInPieces();
    void toolModes_data();
    void toolModes();
    void hungToolRunsUntilKilled();
    void badArguments_data();
    void badArguments();
    void badScenarios_data();
    void badScenarios();
    void execIsInTranscript();
    void mediaIsWritable();

private:
    BoardSimClient m_board;
};

void TestBoardSimBoard::initTestCase()
{
    QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
}

void TestBoardSimBoard::cleanup()
{
    for (const char *key : {"tool.usbswitch", "tool.iocboot", "tool.flash"})
        QVERIFY(m_board.setScenario(key, "ok"));
    QVERIFY(m_board.setScenario("ioc", "present"));
    QVERIFY(m_board.setScenario("flash", "good"));
    QCOMPARE(runTool("iocboot", {"-f"}), 0);
    QCOMPARE(runTool("usbswitch", {"-f"}), 0);
    QCOMPARE(mediaFiles(), QStringList());
}

void TestBoardSimBoard::iocDisk_data()
{
    QTest::addColumn<QString>("ioc");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("present") << "present" << QStringList({"sda1/firmware.bin"});
    QTest::newRow("upper case") << "upper" << QStringList({"SDA1/firmware.bin"});
    QTest::newRow("second disk") << "second" << QStringList({"sda1/", "sdb1/firmware.bin"});
    QTest::newRow("absent") << "absent" << QStringList();
}

void TestBoardSimBoard::iocDisk()
{
    QFETCH(QString, ioc);
    QFETCH(QStringList, files);
    QVERIFY(m_board.setScenario("ioc", ioc));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(runTool("usbswitch", {"-i"}), 0);
    QCOMPARE(runTool("iocboot", {"-i"}), 0);
    QCOMPARE(mediaFiles(), QStringList()); // not before the automounter's delay
    if (files.isEmpty()) {
        QTest::qWait(iocDelayMs * 3);
        QCOMPARE(mediaFiles(), QStringList());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(mediaFiles(), files, 5000);
        QVERIFY(timer.elapsed() >= iocDelayMs);
    }
    // Back to the board's own USB and firmware: the disk goes at once.
    QCOMPARE(runTool("iocboot", {"-f"}), 0);
    QCOMPARE(mediaFiles(), QStringList());
}

void TestBoardSimBoard::diskNeedsSwitchAndBoot_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("boot only") << QStringList({"iocboot -i"});
    QTest::newRow("switch only") << QStringList({"usbswitch -i"});
    QTest::newRow("switched back before the delay")
        << QStringList({"usbswitch -i", "iocboot -i", "usbswitch -f"});
}

void TestBoardSimBoard::diskNeedsSwitchAndBoot()
{
    QFETCH(QStringList, commands);
    for (const QString &c : commands)
        QCOMPARE(runTool(c.section(' ', 0, 0), {c.section(' ', 1)}), 0);
    QTest::qWait(iocDelayMs * 3);
    QCOMPARE(mediaFiles(), QStringList());
}

void TestBoardSimBoard::flashAnswers_data()
{
    QTest::addColumn<QString>("flash");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<bool>("errorText");
    QTest::newRow("good") << "good" << QByteArray("Identification: 0xc22015\n") << false;
    QTest::newRow("case") << "case" << QByteArray("identification: 0xC22015\n") << false;
    QTest::newRow("banner") << "banner"
                            << QByteArray("Flash utility 2.1\nIdentification: 0xc22015\n") << false;
    QTest::newRow("empty") << "empty" << QByteArray("\n") << false;
    QTest::newRow("silent") << "silent" << QByteArray() << true;
}

void TestBoardSimBoard::flashAnswers()
{
    QFETCH(QString, flash);
    QFETCH(QByteArray, out);
    QFETCH(bool, errorText);
    QVERIFY(m_board.setScenario("flash", flash));
    QProcess p;
    p.start("flash", {"-o", "rdid"});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(p.readAllStandardOutput(), out);
    QCOMPARE(!p.readAllStandardError().isEmpty(), errorText);
}

void TestBoardSimBoard::flashAnswerInPieces()
{
    QVERIFY(m_board.setScenario("flash", "pieces"));
    QProcess p;
    p.start("flash", {"-o", "rdid"});
    QVERIFY(p.waitForReadyRead(5000));
    QCOMPARE(p.readAllStandardOutput(), QByteArray("Identification: 0x"));
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.readAllStandardOutput(), QByteArray("c22015\n"));
}

void TestBoardSimBoard::toolModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("switches");
    QTest::addColumn<int>("minMs");
    QTest::newRow("ok") << "ok" << 0 << true << 0;
    QTest::newRow("slow") << "slow" << 0 << true << toolDelayMs;
    QTest::newRow("fail") << "fail" << 1 << false << 0;
    // Not on PATH: QProcess cannot even start it.
    QTest::newRow("missing") << "missing" << -2 << false << 0;
}

void TestBoardSimBoard::toolModes()
{
    QFETCH(QString, mode);
    QFETCH(int, exitCode);
    QFETCH(bool, switches);
    QFETCH(int, minMs);
    QVERIFY(m_board.setScenario("tool.usbswitch", mode));
    QCOMPARE(QFileInfo::exists("/run/boardsim/bin/usbswitch"), mode != "missing");
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(runTool("usbswitch", {"-i"}), exitCode);
    QVERIFY(timer.elapsed() >= minMs);
    QCOMPARE(m_board.state().value("usb").toObject().value("switched").toBool(), switches);
}

void TestBoardSimBoard::hungToolRunsUntilKilled()
{
    QVERIFY(m_board.setScenario("tool.iocboot", "hang"));
    QProcess p;
    p.start("iocboot", {"-i"});
    QVERIFY(p.waitForStarted(5000));
    QVERIFY(!p.waitForFinished(500));
    p.kill();
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(m_board.state().value("usb").toObject().value("booted").toBool(), false);
}

void TestBoardSimBoard::badArguments_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("flash without -o") << "flash" << QStringList({"rdid"});
    QTest::newRow("flash other op") << "flash" << QStringList({"-o", "erase"});
    QTest::newRow("usbswitch nothing") << "usbswitch" << QStringList();
    QTest::newRow("iocboot two") << "iocboot" << QStringList({"-i", "-f"});
}

void TestBoardSimBoard::badArguments()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    QCOMPARE(runTool(tool, args), 2);
}

void TestBoardSimBoard::badScenarios_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("unknown ioc") << "ioc"
                                 << "nowhere";
    QTest::newRow("unknown tool mode") << "tool.flash"
                                       << "broken";
    QTest::newRow("unknown tool") << "tool.dd"
                                  << "ok";
    QTest::newRow("unknown key") << "colour"
                                 << "red";
    QTest::newRow("negative delay") << "ioc-delay-ms"
                                    << "-1";
    QTest::newRow("delay not a number") << "tool-delay-ms"
                                        << "soon";
}

void TestBoardSimBoard::badScenarios()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QVERIFY(!m_board.setScenario(key, value));
    QVERIFY(!m_board.lastError().isEmpty());
}

void TestBoardSimBoard::execIsInTranscript()
{
    QVERIFY(m_board.clearTranscript());
    QProcess p;
    p.start("iocboot", {"-f"});
    QVERIFY(p.waitForStarted(5000));
    const qint64 pid = p.processId();
    QVERIFY(p.waitForFinished(5000));
    const QVector<QJsonObject> entries = m_board.transcript();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].value("op").toString(), QString("exec"));
    QCOMPARE(entries[0].value("path").toString(), QString("iocboot"));
    QCOMPARE(entries[0].value("args").toArray(), QJsonArray({"-f"}));
    QCOMPARE(entries[0].value("pid").toInt(), int(pid));
}

void TestBoardSimBoard::mediaIsWritable()
{
    QVERIFY(QDir().mkpath("/run/media/sdc1"));
    QVERIFY(QDir("/run/media/sdc1").removeRecursively());
}

QTEST_GUILESS_MAIN(TestBoardSimBoard)
#include "tst_boardsim_board.moc"
