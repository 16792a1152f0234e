#include "boardsimclient.h"
#include "boardtool.h"
#include "iocfpgacheck.h"

#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <cerrno>
#include <functional>
#include <signal.h>

// The IOC/FPGA page against the simulated board: what the tools answer, what
// the automounter leaves under /run/media, and what the page makes of it.
class tst_IocFpgaCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void startsWithNoFindingsAndNoVerdicts();
    void verdictsAreRedWhateverTheySay_data();
    void verdictsAreRedWhateverTheySay();
    void buttonCaptionsBreakAfterTheirBlank_data();
    void buttonCaptionsBreakAfterTheirBlank();

    void fpgaVerdictFollowsFlashOutput_data();
    void fpgaVerdictFollowsFlashOutput();
    void secondFpgaReadKeepsOldVerdictUntilAnswer();

    void searchFindsFirmwareUnderSdEntries_data();
    void searchFindsFirmwareUnderSdEntries();
    void searchWithoutMountDirectoryFindsNothing();

    void iocCheckSwitchesBackWhateverTheToolsDo_data();
    void iocCheckSwitchesBackWhateverTheToolsDo();
    void escapeDuringWaitSearchesAtOnce();

    void boardToolIsKilledOnlyAfterItsBound_data();
    void boardToolIsKilledOnlyAfterItsBound();

private:
    QLabel *label(const QString &name) const { return m_page->findChild<QLabel *>(name); }
    QString text(const char *name) const { return label(QLatin1String(name))->text(); }
    bool setScenario(const QStringList &settings);
    bool runFpgaCheck();
    QStringList toolCalls(QVector<int> *pids = nullptr, QVector<double> *times = nullptr);
    QStringList debugLines(const QString &prefix) const;

    BoardSimClient m_board;
    iocFpgaCheck *m_page = nullptr;
    QProcess *m_flash = nullptr;
};

namespace {

const QString MediaDir = QStringLiteral("/run/media");

// The board's state at boardsim's start; every test begins from it.
const QStringList DefaultScenario = {"ioc=present",       "ioc-delay-ms=1000", "flash=good",
                                     "tool.usbswitch=ok", "tool.iocboot=ok",   "tool.flash=ok",
                                     "tool-delay-ms=3000"};

const QStringList SwitchOverCalls = {"usbswitch -i", "iocboot -i", "iocboot -f", "usbswitch -f"};

QStringList g_debugLines;
QtMessageHandler g_testHandler = nullptr;

void captureDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        g_debugLines.append(message);
    g_testHandler(type, context, message);
}

// "dir/" makes a directory, anything else an empty file (parents included).
bool makeMediaEntry(const QString &relative)
{
    const QString path = MediaDir + QLatin1Char('/') + relative;
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) &&
           (relative.endsWith(QLatin1Char('/')) || file.open(QIODevice::WriteOnly));
}

int pixelsWhere(const QImage &image, const std::function<bool(const QColor &)> &test)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += test(image.pixelColor(x, y));
    return count;
}

} // namespace

void tst_IocFpgaCheck::initTestCase()
{
    QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
    // For QSignalSpy on the flash process's ends.
    qRegisterMetaType<QProcess::ExitStatus>();
    qRegisterMetaType<QProcess::ProcessError>();
    g_testHandler = qInstallMessageHandler(captureDebug);
}

void tst_IocFpgaCheck::cleanupTestCase()
{
    qInstallMessageHandler(g_testHandler);
}

void tst_IocFpgaCheck::init()
{
    QVERIFY(setScenario(DefaultScenario));
    if (QDir(MediaDir).exists()) { // left as it is on a board without it
        QDir(MediaDir).removeRecursively();
        QDir().mkpath(MediaDir);
    }
    QVERIFY(m_board.clearTranscript());
    g_debugLines.clear();

    m_page = new iocFpgaCheck;
    m_flash = m_page->findChild<QProcess *>();
    QVERIFY(m_flash);
    m_page->show();
    QApplication::setActiveWindow(m_page);
    QVERIFY(QTest::qWaitForWindowActive(m_page));
}

void tst_IocFpgaCheck::cleanup()
{
    // A read still under way would be killed with a warning by the page's end.
    if (m_flash)
        QTRY_COMPARE_WITH_TIMEOUT(m_flash->state(), QProcess::NotRunning, 10000);
    delete m_page;
    m_page = nullptr;
    m_flash = nullptr;
}

bool tst_IocFpgaCheck::setScenario(const QStringList &settings)
{
    for (const QString &setting : settings) {
        const int eq = setting.indexOf(QLatin1Char('='));
        if (!m_board.setScenario(setting.left(eq), setting.mid(eq + 1))) {
            qWarning() << "scenario" << setting << m_board.lastError();
            return false;
        }
    }
    return true;
}

// F1 as the operator presses it; returns when flash has ended or failed to start.
bool tst_IocFpgaCheck::runFpgaCheck()
{
    QSignalSpy ended(m_flash, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    QSignalSpy failed(m_flash, &QProcess::errorOccurred);
    QTest::keyClick(m_page, Qt::Key_F1);
    // The shortcut clicks through animateClick, ~100 ms later.
    return QTest::qWaitFor([&] { return ended.count() + failed.count() > 0; }, 10000);
}

QStringList tst_IocFpgaCheck::toolCalls(QVector<int> *pids, QVector<double> *times)
{
    QStringList calls;
    const QVector<QJsonObject> rows = m_board.transcript();
    for (const QJsonObject &row : rows) {
        if (row.value(QStringLiteral("op")).toString() != QLatin1String("exec"))
            continue;
        QStringList words{row.value(QStringLiteral("path")).toString()};
        const QJsonArray args = row.value(QStringLiteral("args")).toArray();
        for (const QJsonValue &arg : args)
            words << arg.toString();
        calls << words.join(QLatin1Char(' '));
        if (pids)
            pids->append(row.value(QStringLiteral("pid")).toInt());
        if (times)
            times->append(row.value(QStringLiteral("t")).toDouble());
    }
    return calls;
}

QStringList tst_IocFpgaCheck::debugLines(const QString &prefix) const
{
    QStringList lines;
    for (const QString &line : qAsConst(g_debugLines))
        if (line.startsWith(prefix))
            lines << line;
    return lines;
}

// ---- The page before and after a check ----

void tst_IocFpgaCheck::startsWithNoFindingsAndNoVerdicts()
{
    QCOMPARE(text("fpgaId_label"), QStringLiteral("---"));
    QCOMPARE(text("fpgaCheckResut_label"), QString());
    QCOMPARE(text("iocCheck_label"), QStringLiteral("---"));
    QCOMPARE(text("iocCheckResult_label"), QString());
}

void tst_IocFpgaCheck::verdictsAreRedWhateverTheySay_data()
{
    QTest::addColumn<QString>("labelName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("red");

    // Verdicts: red for success as well, so that the operator reads every one.
    QTest::newRow("FPGA success") << "fpgaCheckResut_label"
                                  << "FPGA Check Success!" << true;
    QTest::newRow("FPGA failure") << "fpgaCheckResut_label"
                                  << "FPGA Check FAIL!" << true;
    QTest::newRow("IOC success") << "iocCheckResult_label"
                                 << "IOC Check Suceccs!" << true;
    QTest::newRow("IOC failure") << "iocCheckResult_label"
                                 << "IOC Check FAIL!" << true;
    // Findings keep the page's default text colour.
    QTest::newRow("FPGA finding") << "fpgaId_label"
                                  << "Identification: 0xc22015" << false;
    QTest::newRow("IOC finding") << "iocCheck_label"
                                 << "IOC was recognized as USB." << false;
}

void tst_IocFpgaCheck::verdictsAreRedWhateverTheySay()
{
    QFETCH(QString, labelName);
    QFETCH(QString, text);
    QFETCH(bool, red);

    label(labelName)->setText(text);
    const QImage image = label(labelName)->grab().toImage();
    if (red) // glyph cores in exactly rgb(225, 26, 26)
        QVERIFY(pixelsWhere(image, [](const QColor &c) { return c == QColor(225, 26, 26); }) > 0);
    else // not even anti-aliased edges in a reddish tone
        QCOMPARE(pixelsWhere(image,
                             [](const QColor &c) {
                                 return c.red() > c.green() + 60 && c.red() > c.blue() + 60;
                             }),
                 0);
}

void tst_IocFpgaCheck::buttonCaptionsBreakAfterTheirBlank_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QStringList>("lines");

    // The blank stays at the end of the first line.
    QTest::newRow("F1 FPGA") << "fpgaCheckButton" << QStringList{"FPGA ID ", "Check"};
    QTest::newRow("F2 IOC") << "iocCheckButton" << QStringList{"IOC ", "Check"};
}

void tst_IocFpgaCheck::buttonCaptionsBreakAfterTheirBlank()
{
    QFETCH(QString, buttonName);
    QFETCH(QStringList, lines);

    auto *button = m_page->findChild<QPushButton *>(buttonName);
    QCOMPARE(button->text().split(QLatin1Char('\n')), lines);
    // A real line feed, not an escaped one: the caption needs two lines of height.
    QPushButton oneLine(lines.last());
    oneLine.setFont(button->font());
    QVERIFY(button->sizeHint().height() >=
            oneLine.sizeHint().height() + button->fontMetrics().lineSpacing() - 1);
}

// ---- FPGA identification ----

void tst_IocFpgaCheck::fpgaVerdictFollowsFlashOutput_data()
{
    QTest::addColumn<QString>("before");  // flash answer of the check before
    QTest::addColumn<QString>("flash");   // flash answer of the check under test
    QTest::addColumn<QString>("finding"); // fpgaId_label afterwards
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QStringList>("debug"); // the check's "fpga Identification" lines

    const QString success = QStringLiteral("FPGA Check Success!");
    const QString fail = QStringLiteral("FPGA Check FAIL!");

    // The expected part; the line end is trimmed away. Comes after a failure,
    // so the verdict has to change.
    QTest::newRow("expected with line end")
        << "case"
        << "good"
        << "Identification: 0xc22015" << success
        << QStringList{R"(fpga Identification: "Identification: 0xc22015")"};

    // Wrong answers, each after a good check so the verdict has to change.
    // The comparison is case-sensitive: lower-case I, upper-case hex digits.
    QTest::newRow("letter case") << "good"
                                 << "case"
                                 << "identification: 0xC22015" << fail
                                 << QStringList{
                                        R"(fpga Identification: "identification: 0xC22015")"};
    // The whole trimmed output is the finding, so a banner makes it two lines.
    QTest::newRow("banner line")
        << "good"
        << "banner"
        << "Flash utility 2.1\nIdentification: 0xc22015" << fail
        << QStringList{R"(fpga Identification: "Flash utility 2.1\nIdentification: 0xc22015")"};
    // A lone line end trims to nothing.
    QTest::newRow("white space only") << "good"
                                      << "empty"
                                      << "" << fail << QStringList{R"(fpga Identification: "")"};
    // Two reads 300 ms apart: each piece is judged alone and the second stands.
    QTest::newRow("pieces") << "good"
                            << "pieces"
                            << "c22015" << fail
                            << QStringList{R"(fpga Identification: "Identification: 0x")",
                                           R"(fpga Identification: "c22015")"};

    // No answer on stdout: the handler never runs, "---" and the old verdict stay.
    QTest::newRow("silent (stderr only)") << "good"
                                          << "silent"
                                          << "---" << success << QStringList();
    QTest::newRow("flash missing") << "good"
                                   << "missing"
                                   << "---" << success << QStringList();
}

void tst_IocFpgaCheck::fpgaVerdictFollowsFlashOutput()
{
    QFETCH(QString, before);
    QFETCH(QString, flash);
    QFETCH(QString, finding);
    QFETCH(QString, verdict);
    QFETCH(QStringList, debug);

    QVERIFY(setScenario({"flash=" + before}));
    QVERIFY(runFpgaCheck());
    // Where the check under test writes a verdict, it has to replace a different one.
    if (!debug.isEmpty())
        QVERIFY(text("fpgaCheckResut_label") != verdict);

    QVERIFY(setScenario({"flash=" + flash}));
    g_debugLines.clear();
    QVERIFY(runFpgaCheck());
    QCOMPARE(text("fpgaId_label"), finding);
    QCOMPARE(text("fpgaCheckResut_label"), verdict);
    QCOMPARE(debugLines(QStringLiteral("fpga Identification: ")), debug);
}

void tst_IocFpgaCheck::secondFpgaReadKeepsOldVerdictUntilAnswer()
{
    QVERIFY(setScenario({"flash=case"}));
    QVERIFY(runFpgaCheck());
    QCOMPARE(text("fpgaCheckResut_label"), QStringLiteral("FPGA Check FAIL!"));

    // The chip answers correctly this time, but only after 1 s.
    QVERIFY(setScenario({"flash=good", "tool.flash=slow", "tool-delay-ms=1000"}));
    QSignalSpy ended(m_flash, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    QTest::keyClick(m_page, Qt::Key_F1);
    QTRY_COMPARE(m_flash->state(), QProcess::Running);
    QTest::qWait(300);
    QCOMPARE(m_flash->state(), QProcess::Running); // still waiting for the answer
    QCOMPARE(text("fpgaId_label"), QStringLiteral("---"));
    QCOMPARE(text("fpgaCheckResut_label"), QStringLiteral("FPGA Check FAIL!"));

    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
    QCOMPARE(text("fpgaId_label"), QStringLiteral("Identification: 0xc22015"));
    QCOMPARE(text("fpgaCheckResut_label"), QStringLiteral("FPGA Check Success!"));
}

// ---- IOC search ----

void tst_IocFpgaCheck::searchFindsFirmwareUnderSdEntries_data()
{
    QTest::addColumn<QStringList>("entries"); // under /run/media; "x/" is a directory
    QTest::addColumn<bool>("found");

    // Found: firmware.bin at the root of an "sd*" mount.
    QTest::newRow("firmware in sda1") << QStringList{"sda1/firmware.bin"} << true;
    QTest::newRow("sdb1 past sda1 without it") << QStringList{"sda1/", "sdb1/firmware.bin"} << true;
    QTest::newRow("upper-case SDA1")
        << QStringList{"SDA1/firmware.bin"} << true; // "sd*" ignores case
    QTest::newRow("firmware among other files")
        << QStringList{"sda1/readme.txt", "sda1/firmware.bin"} << true;

    // Not found.
    QTest::newRow("nothing mounted") << QStringList() << false;
    // "." and ".." alone must not pass for the IOC.
    QTest::newRow("empty sda1") << QStringList{"sda1/"} << false;
    QTest::newRow("only mmcblk0p1")
        << QStringList{"mmcblk0p1/firmware.bin"} << false; // a memory card, not the IOC
    QTest::newRow("regular file named sdx") << QStringList{"sdx"} << false; // nothing beneath it
    QTest::newRow("firmware one level down") << QStringList{"sda1/boot/firmware.bin"} << false;
    QTest::newRow("file name in upper case")
        << QStringList{"sda1/FIRMWARE.BIN"} << false; // only the pattern ignores case
}

void tst_IocFpgaCheck::searchFindsFirmwareUnderSdEntries()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, found);

    for (const QString &entry : entries)
        QVERIFY2(makeMediaEntry(entry), qPrintable(entry));
    QCOMPARE(m_page->searchIocUsbMemory(), found);
    QCOMPARE(text("iocCheck_label"), found ? QStringLiteral("IOC was recognized as USB.")
                                           : QStringLiteral("IOC not found."));
    QCOMPARE(text("iocCheckResult_label"),
             found ? QStringLiteral("IOC Check Suceccs!") : QStringLiteral("IOC Check FAIL!"));
}

void tst_IocFpgaCheck::searchWithoutMountDirectoryFindsNothing()
{
    if (QDir(MediaDir).exists())
        QSKIP("needs a board without /run/media (boardsim --no-run-media)");
    QCOMPARE(m_page->searchIocUsbMemory(), false);
    QCOMPARE(text("iocCheck_label"), QStringLiteral("IOC not found."));
    QCOMPARE(text("iocCheckResult_label"), QStringLiteral("IOC Check FAIL!"));
}

// ---- The whole IOC check ----

void tst_IocFpgaCheck::iocCheckSwitchesBackWhateverTheToolsDo_data()
{
    QTest::addColumn<QStringList>("scenario");
    QTest::addColumn<QStringList>("calls"); // exec rows of the transcript, in order
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("minMs"); // how long the whole check takes
    QTest::addColumn<int>("maxMs");

    // Mostly the dialog's countdown (5 s, possibly 5 % early) and its 200 ms pause.
    const int minWait = 4750 + 190;
    const int maxWait = 10000; // only against a hang: load stretches it

    // The IOC is mounted 1 s after switching, well within the 5 s wait.
    QTest::newRow("IOC comes up") << QStringList() << SwitchOverCalls << true << minWait << maxWait;
    // The IOC is not there when the wait ends; it is searched for once only.
    QTest::newRow("IOC absent") << QStringList{"ioc=absent"} << SwitchOverCalls << false << minWait
                                << maxWait;
    QTest::newRow("IOC later than the wait")
        << QStringList{"ioc=late"} << SwitchOverCalls << false << minWait << maxWait;
    // Failing tools: their exit codes are ignored, all four still run; the
    // IOC never got switched, so the search decides "not found".
    QTest::newRow("tools fail") << QStringList{"tool.usbswitch=fail", "tool.iocboot=fail"}
                                << SwitchOverCalls << false << minWait << maxWait;
    // A missing tool cannot start, leaves no exec row, and the rest still runs.
    QTest::newRow("usbswitch missing")
        << QStringList{"tool.usbswitch=missing"} << QStringList{"iocboot -i", "iocboot -f"} << false
        << minWait << maxWait;

    // The countdown starts before the switch-over: 1.5 s of a slow usbswitch
    // shorten the wait, and its 1.5 s on the way back add to the check.
    QTest::newRow("slow switch-over counts against the wait")
        << QStringList{"tool.usbswitch=slow", "tool-delay-ms=1500"} << SwitchOverCalls << true
        << 5000 + 1500 - 250 << maxWait + 1500;
}

void tst_IocFpgaCheck::iocCheckSwitchesBackWhateverTheToolsDo()
{
    QFETCH(QStringList, scenario);
    QFETCH(QStringList, calls);
    QFETCH(bool, found);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    QVERIFY(setScenario(scenario));
    QElapsedTimer clock;
    clock.start();
    // F2 clicks the button ~100 ms later; the check then blocks inside this
    // wait until it is over, so the first look afterwards sees the end.
    QTest::keyClick(m_page, Qt::Key_F2);
    QTRY_VERIFY_WITH_TIMEOUT(text("iocCheckResult_label") != QString(), 15000);
    const qint64 took = clock.elapsed();

    QVector<double> at;
    QCOMPARE(toolCalls(nullptr, &at), calls);
    // The switch back starts ~5.2 s after the first call, however long the
    // switch-over took (the board's clock, so load on the test hardly matters;
    // counting from the dialog's exec() would give 5.2 s plus the switch-over).
    const double untilBack = at.at(calls.indexOf("iocboot -f")) - at.first();
    QVERIFY2(untilBack <= 5200 + 800, qPrintable(QString::number(untilBack)));
    QCOMPARE(text("iocCheck_label"), found ? QStringLiteral("IOC was recognized as USB.")
                                           : QStringLiteral("IOC not found."));
    QCOMPARE(text("iocCheckResult_label"),
             found ? QStringLiteral("IOC Check Suceccs!") : QStringLiteral("IOC Check FAIL!"));
    QVERIFY2(took >= minMs && took <= maxMs, qPrintable(QString::number(took)));
    // Switched back: the IOC's disk is gone again.
    QVERIFY(!QFile::exists(MediaDir + QStringLiteral("/sda1/firmware.bin")));
}

void tst_IocFpgaCheck::escapeDuringWaitSearchesAtOnce()
{
    // The IOC needs 3 s to come up: a search at the Escape (1 s) cannot find
    // it, a search at the end of the countdown (5 s) would.
    QVERIFY(setScenario({"ioc-delay-ms=3000"}));
    QElapsedTimer clock;
    bool escaped = false;
    QTimer::singleShot(1000, this, [&escaped] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        QApplication::setActiveWindow(dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
        escaped = true;
    });
    clock.start();
    m_page->iocIdCheck();
    const qint64 took = clock.elapsed();

    QVERIFY(escaped);
    QVERIFY2(took >= 950 && took <= 2500, qPrintable(QString::number(took)));
    QCOMPARE(text("iocCheck_label"), QStringLiteral("IOC not found."));
    QCOMPARE(text("iocCheckResult_label"), QStringLiteral("IOC Check FAIL!"));
    QCOMPARE(toolCalls(), SwitchOverCalls); // the switch back still follows
}

// ---- The bound on a board tool ----

void tst_IocFpgaCheck::boardToolIsKilledOnlyAfterItsBound_data()
{
    QTest::addColumn<QStringList>("scenario");
    QTest::addColumn<int>("boundMs");
    QTest::addColumn<bool>("killed");
    QTest::addColumn<int>("minMs"); // how long runBoardTool may take
    QTest::addColumn<int>("maxMs");

    // Never ends by itself: killed at the bound (a short one, to keep the suite fast).
    QTest::newRow("hanging tool") << QStringList{"tool.usbswitch=hang"} << 500 << true << 500
                                  << 1500;
    // Ends within the bound: waited for, not killed.
    QTest::newRow("slow tool within the bound")
        << QStringList{"tool.usbswitch=slow", "tool-delay-ms=700"} << 3000 << false << 700 << 2500;
    // Cannot start: nothing to wait for.
    QTest::newRow("missing tool") << QStringList{"tool.usbswitch=missing"} << 500 << false << 0
                                  << 450;
}

void tst_IocFpgaCheck::boardToolIsKilledOnlyAfterItsBound()
{
    QFETCH(QStringList, scenario);
    QFETCH(int, boundMs);
    QFETCH(bool, killed);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    QVERIFY(setScenario(scenario));
    QElapsedTimer clock;
    clock.start();
    runBoardTool(QStringLiteral("usbswitch -i"), boundMs);
    const qint64 took = clock.elapsed();

    QVERIFY2(took >= minMs && took <= maxMs, qPrintable(QString::number(took)));
    const QStringList expected =
        killed ? QStringList{QStringLiteral("board tool \"usbswitch -i\" still running after %1 "
                                            "ms, killed")
                                 .arg(boundMs)}
               : QStringList();
    QCOMPARE(debugLines(QStringLiteral("board tool")), expected);
    // Whatever happened, no tool is left running behind the check's back.
    QVector<int> pids;
    toolCalls(&pids);
    for (int pid : qAsConst(pids))
        QVERIFY2(pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH, "tool process still exists");
}

QTEST_MAIN(tst_IocFpgaCheck)
#include "tst_iocfpgacheck.moc"
