#include "boardsimclient.h"
#include "boardtool.h"
#include "iocfpgacheck.h"
#include "picttimermsg.h"
#include "qttestsupport.h"

#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <ctime>

const QString MediaDir = QStringLiteral("/run/media");
const QStringList SwitchOverCalls = {"usbswitch -i", "iocboot -i", "iocboot -f", "usbswitch -f"};
const QString Success = QStringLiteral("FPGA Check Success!"), Fail = "FPGA Check FAIL!";
const QColor Red(225, 26, 26);

// Messages by category: the default one carries the described debug lines (the FPGA answer),
// the page's own category its diagnostics (a tool or the flash read killed at its bound).
const char *const Described = "default", *const Diagnostics = "checkmode.iocfpga";

// The IOC/FPGA page and its waiting dialog, against the simulated board.
class tst_IocFpgaCheck : public QObject
{
    Q_OBJECT
    BoardSimClient m_board;
    iocFpgaCheck *m_page = nullptr;
    QProcess *m_flash = nullptr;
    QVector<double> m_callTimes; // of the last toolCalls(), on the board's clock
    QString m_atStart;

    QLabel *label(const char *name) const { return m_page->findChild<QLabel *>(name); }
    QString text(const char *name) const { return label(name)->text(); }
    bool setScenario(const QStringList &settings)
    {
        for (const QString &setting : settings)
            if (!m_board.setScenario(setting.section('=', 0, 0), setting.section('=', 1)))
                return false;
        return true;
    }
    // F1 as the operator presses it, until flash has ended; notes the labels as it starts.
    bool runFpgaCheck()
    {
        bool ended = false;
        QObject guard;
        connect(m_flash, &QProcess::stateChanged, &guard, [&](QProcess::ProcessState state) {
            if (state == QProcess::Starting)
                m_atStart = text("fpgaId_label") + '|' + text("fpgaCheckResut_label");
            ended = state == QProcess::NotRunning;
        });
        QTest::keyClick(m_page, Qt::Key_F1); // clicks through animateClick, ~100 ms later
        return QTest::qWaitFor([&] { return ended; }, 10000);
    }
    QStringList toolCalls() // the transcript's exec rows as "tool args"
    {
        QStringList calls;
        m_callTimes.clear();
        for (const QJsonObject &row : m_board.transcript().value_or(QVector<QJsonObject>()))
            if (row["op"] == "exec") {
                calls << row["path"].toString() + ' ' +
                             row["args"].toVariant().toStringList().join(' ');
                m_callTimes << row["t"].toDouble();
            }
        return calls;
    }
    // Verdicts are red whatever they say, so that the operator reads each; findings are not.
    bool isRed(const char *name) const { return label(name)->palette().windowText() == Red; }
    void compareIocVerdict(bool found)
    {
        QVERIFY(isRed("iocCheckResult_label") && !isRed("iocCheck_label"));
        QCOMPARE(text("iocCheck_label"), found ? "IOC was recognized as USB." : "IOC not found.");
        QCOMPARE(text("iocCheckResult_label"), found ? "IOC Check Suceccs!" : "IOC Check FAIL!");
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
        Messages::catchAll();
    }
    void init()
    {
        // The board's state at boardsim's start; every test begins from it.
        QVERIFY(setScenario({"ioc=present", "ioc-delay-ms=1000", "flash=good", "tool.usbswitch=ok",
                             "tool.iocboot=ok", "tool.flash=ok", "tool-delay-ms=3000"}));
        if (QDir(MediaDir).exists()) // left as it is on a board without it
            QVERIFY(QDir(MediaDir).removeRecursively() && QDir().mkpath(MediaDir));
        QVERIFY(m_board.clearTranscript());
        Messages::clear();
        m_page = new iocFpgaCheck;
        m_flash = m_page->findChild<QProcess *>();
        QVERIFY(m_flash);
        QVERIFY(showActive(m_page));
    }
    void cleanup()
    {
        if (!m_page) // the test deleted it
            return;
        QTRY_COMPARE(m_flash->state(), QProcess::NotRunning); // else killed with a warning
        delete m_page;
        m_page = nullptr;
    }

    void startsWithNoFindingsAndNoVerdicts()
    {
        const QStringList texts = {text("fpgaId_label"), text("fpgaCheckResut_label"),
                                   text("iocCheck_label"), text("iocCheckResult_label")};
        QCOMPARE(texts, QStringList({"---", "", "---", ""}));
        // Real line feeds after the blank, which stays on the first line.
        QCOMPARE(m_page->findChild<QPushButton *>("fpgaCheckButton")->text(), "FPGA ID \nCheck");
        QCOMPARE(m_page->findChild<QPushButton *>("iocCheckButton")->text(), "IOC \nCheck");
    }

    void fpgaVerdictFollowsFlashOutput_data()
    {
        // The described identification, copied on purpose: the check of the board's own.
        QTest::addColumn<QString>("finding"); // fpgaId_label afterwards
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<int>("pieces"); // debug lines, the last quoting the finding
        QTest::newRow("good") << "Identification: 0xc22015" << Success << 1; // line end trimmed
        QTest::newRow("case") << "identification: 0xC22015" << Fail << 1;
        // The whole trimmed output is the finding, so a banner makes it two lines.
        QTest::newRow("banner") << "Flash utility 2.1\nIdentification: 0xc22015" << Fail << 1;
        QTest::newRow("empty") << "" << Fail << 1; // a lone line end trims to nothing
        // Two reads 300 ms apart: each piece is judged alone and the second stands.
        QTest::newRow("pieces") << "c22015" << Fail << 2;
        // No answer on stdout: the handler never runs, "---" and the old verdict stay.
        QTest::newRow("silent") << "---" << Success << 0;
        QTest::newRow("missing") << "---" << Success << 0;
    }
    void fpgaVerdictFollowsFlashOutput()
    {
        QFETCH(QString, finding);
        QFETCH(QString, verdict);
        QFETCH(int, pieces);
        // A check with the other verdict first, so that a new verdict has to replace it.
        const QString flash = QTest::currentDataTag(); // boardsim's flash answer
        QVERIFY(setScenario({flash == "good" ? "flash=case" : "flash=good"}));
        QVERIFY(runFpgaCheck());
        const QString before = text("fpgaCheckResut_label");
        QCOMPARE(before == verdict, pieces == 0);
        QVERIFY(setScenario({"flash=" + flash}));
        Messages::clear();
        QVERIFY(runFpgaCheck());
        // Until the answer comes the finding reads "---" and the old verdict stays.
        QCOMPARE(m_atStart, "---|" + before);
        QCOMPARE(text("fpgaId_label"), finding);
        QCOMPARE(text("fpgaCheckResut_label"), verdict);
        QVERIFY(isRed("fpgaCheckResut_label") && !isRed("fpgaId_label"));
        const QStringList debug = Messages::of(Described).filter("fpga Identification: ");
        QCOMPARE(debug.size(), pieces);
        if (pieces)
            QCOMPARE(debug.last(), "fpga Identification: \"" + finding.replace('\n', "\\n") + '"');
    }
    // A flash that never ends is killed at the bound; what was judged stays, F1 reads anew.
    void fpgaReadIsKilledAtItsBound_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("hanging") << "tool.flash=hang";  // never a word: "---" stays
        QTest::newRow("chattering") << "flash=chatter"; // the answer over and over
    }
    void fpgaReadIsKilledAtItsBound()
    {
        QFETCH(QString, scenario);
        QVERIFY(setScenario({scenario}));
        [[maybe_unused]] const std::clock_t before = std::clock(); // CPU of the whole process
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(m_page, Qt::Key_F1);
        QTRY_VERIFY(m_flash->state() != QProcess::NotRunning);
        QTRY_COMPARE_WITH_TIMEOUT(m_flash->state(), QProcess::NotRunning,
                                  iocFpgaCheck::FpgaReadTimeoutMs + 5000);
        const qint64 tookMs = clock.elapsed();
        QTest::qWait(2 * iocFpgaCheck::FpgaJudgeIntervalMs); // a piece held back is judged
        [[maybe_unused]] const std::clock_t after = std::clock();
        QVERIFY(tookMs >= iocFpgaCheck::FpgaReadTimeoutMs);
        QCOMPARE(Messages::of(Diagnostics),
                 QStringList{"flash read still running after 10000 ms, killed"});
        // At most one judgement per interval keeps the log and the GUI thread's share bounded.
        const QStringList judged = Messages::of(Described).filter("fpga Identification: ");
        QVERIFY2(judged.size() <= tookMs / iocFpgaCheck::FpgaJudgeIntervalMs + 2,
                 qPrintable(QString::number(judged.size())));
#if !defined(__SANITIZE_ADDRESS__)
        // (Not under AddressSanitizer, whose allocator makes each of Qt's pipe reads far dearer,
        // nor under an emulator, which spends a core translating whatever runs.)
        const qint64 cpuMs = qint64(after - before) * 1000 / CLOCKS_PER_SEC;
        QVERIFY2(cpuMs < tookMs / 4 || qEnvironmentVariableIsSet("CHECKMODE_TEST_EMULATOR"),
                 qPrintable(QStringLiteral("%1 ms of CPU in %2 ms").arg(cpuMs).arg(tookMs)));
#endif
        const QString finding = text("fpgaId_label").replace('\n', "\\n");
        QCOMPARE(judged.isEmpty() ? "---" : judged.last(),
                 judged.isEmpty() ? finding : "fpga Identification: \"" + finding + '"');
        QVERIFY(setScenario({"flash=good", "tool.flash=ok"}));
        QVERIFY(runFpgaCheck());
        QCOMPARE(text("fpgaId_label") + '|' + text("fpgaCheckResut_label"),
                 "Identification: 0xc22015|" + Success);
    }

    // Closing the window mid-read: nothing reaches the page once its destructor has begun.
    void deletingThePageEndsTheReadUnheard_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("heard"); // judgements to wait for before deleting
        QTest::newRow("chattering") << "flash=chatter" << 3;
        QTest::newRow("between pieces") << "flash=pieces" << 1; // the second is 300 ms away
    }
    void deletingThePageEndsTheReadUnheard()
    {
        QFETCH(QString, scenario);
        QFETCH(int, heard);
        QVERIFY(setScenario({scenario}));
        QTest::keyClick(m_page, Qt::Key_F1);
        QTRY_COMPARE(m_flash->state(), QProcess::Running);
        QTRY_VERIFY(Messages::of(Described).filter("fpga Identification: ").size() >= heard);
        const qint64 pid = m_flash->processId();
        Messages::clear();
        delete m_page;
        m_page = nullptr;
        QCOMPARE(Messages::of(), QStringList());
        QVERIFY(::kill(pid, 0) == -1 && errno == ESRCH); // ended and reaped, not left running
    }
    void searchFindsFirmwareUnderSdEntries_data()
    {
        QTest::addColumn<QStringList>("entries"); // under /run/media; "x/" is a directory
        QTest::addColumn<bool>("found");
        QTest::newRow("sda1") << QStringList{"sda1/firmware.bin"} << true;
        QTest::newRow("sdb1 past sda1") << QStringList{"sda1/", "sdb1/firmware.bin"} << true;
        QTest::newRow("SDA1") << QStringList{"SDA1/firmware.bin"} << true; // "sd*" ignores case
        QTest::newRow("empty sda1") << QStringList{"sda1/"} << false; // "." and ".." do not count
        QTest::newRow("mmcblk0p1") << QStringList{"mmcblk0p1/firmware.bin"} << false; // a card
        QTest::newRow("file named sdx") << QStringList{"sdx"} << false;
        QTest::newRow("one level down") << QStringList{"sda1/boot/firmware.bin"} << false;
        QTest::newRow("FIRMWARE.BIN") << QStringList{"sda1/FIRMWARE.BIN"} << false;
        QTest::newRow("no /run/media") << QStringList() << false; // alone, --no-run-media
    }
    void searchFindsFirmwareUnderSdEntries()
    {
        QFETCH(QStringList, entries);
        QFETCH(bool, found);
        if (entries.isEmpty() && QDir(MediaDir).exists())
            QSKIP("needs a board without /run/media (boardsim --no-run-media)");
        for (const QString &entry : entries) { // a directory, or an empty file
            QFile file(MediaDir + '/' + entry);
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) &&
                    (entry.endsWith('/') || file.open(QIODevice::WriteOnly)));
        }
        QCOMPARE(m_page->searchIocUsbMemory(), found);
        compareIocVerdict(found);
    }

    void iocCheckSwitchesBackWhateverTheToolsDo_data()
    {
        QTest::addColumn<QStringList>("scenario");
        QTest::addColumn<QStringList>("calls"); // exec rows of the transcript, in order
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("minMs"); // how long the whole check takes, at least
        // The countdown (5 s, maybe 5 % early, + 200 ms) starts before the switch-over:
        // 1.5 s of a slow usbswitch shorten the wait and add to the way back.
        QTest::newRow("slow switch-over")
            << QStringList{"tool.usbswitch=slow", "tool-delay-ms=1500"} << SwitchOverCalls << true
            << 6250;
        // Exit codes are ignored and a missing tool leaves no exec row; the rest still runs.
        QTest::newRow("tools fail or are missing")
            << QStringList{"tool.usbswitch=missing", "tool.iocboot=fail"}
            << QStringList{"iocboot -i", "iocboot -f"} << false << 4940;
        // The IOC needs 3 s: the search at once after the Escape cannot find it.
        QTest::newRow("Escape at 1 s")
            << QStringList{"ioc-delay-ms=3000"} << SwitchOverCalls << false << 950;
    }
    void iocCheckSwitchesBackWhateverTheToolsDo()
    {
        QFETCH(QStringList, scenario);
        QFETCH(QStringList, calls);
        QFETCH(bool, found);
        QFETCH(int, minMs);
        const bool escape = QTest::currentDataTag() == QLatin1String("Escape at 1 s");
        QVERIFY(setScenario(scenario));
        QTimer escaper;
        escaper.setSingleShot(true);
        connect(&escaper, &QTimer::timeout, m_page, [] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QApplication::setActiveWindow(dialog);
            QTest::keyClick(dialog, Qt::Key_Escape); // ends exec() at once, rejected
            QVERIFY(!dialog->isVisible() && dialog->result() == QDialog::Rejected);
        });
        if (escape)
            escaper.start(1000);
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(m_page, Qt::Key_F2); // the click blocks in the wait until it is over
        QTRY_VERIFY_WITH_TIMEOUT(text("iocCheckResult_label") != QString(), 15000);
        // The upper bound is only against a hang: load stretches the check.
        const int took = int(clock.elapsed());
        QCOMPARE(qBound(minMs, took, escape ? 2500 : minMs + 5000), took);
        compareIocVerdict(found);
        QCOMPARE(toolCalls(), calls);
        // The switch back starts ~5.2 s after the first call however long the switch-over
        // took (the board's clock, so load on the test hardly matters).
        const double untilBack = m_callTimes.at(calls.indexOf("iocboot -f")) - m_callTimes.first();
        QCOMPARE(qMin(untilBack, 5200.0 + 800), untilBack);
        QVERIFY(!QFile::exists(MediaDir + "/sda1/firmware.bin")); // switched back
    }

    void dialogClosesOnFullBarCountedFromConstruction_data()
    {
        QTest::addColumn<int>("workMs");      // blocking work before exec(), as the IOC switch-over
        QTest::addColumn<int>("minLastTick"); // last value before the jump to full
        QTest::addColumn<int>("maxLastTick");
        QTest::newRow("no work") << 0 << 4500 << 4500;        // 45 ticks fill the bar at 4.5 s
        QTest::newRow("3 s of work") << 3000 << 1400 << 2300; // ~2 s of ticks, then full
        QTest::newRow("6 s of work") << 6000 << 0 << 0; // countdown over before exec(): only full
    }
    void dialogClosesOnFullBarCountedFromConstruction()
    {
        QFETCH(int, workMs);
        QFETCH(int, minLastTick);
        QFETCH(int, maxLastTick);
        QElapsedTimer clock;
        clock.start();
        PictTimerMsg dialog;
        auto *bar = dialog.findChild<QProgressBar *>();
        QList<int> values;
        int lastAt = 0; // ms since construction
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
            QVERIFY(!bar->isTextVisible()); // never a percentage
            values << value;
            lastAt = int(clock.elapsed());
        });
        QThread::msleep(workMs); // no events: timers cannot fire meanwhile
        dialog.timerStart();
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        const int closedAt = int(clock.elapsed());
        // A precise 5000 ms countdown never ends early, then the 200 ms pause; slack for load.
        QCOMPARE(qBound(qMax(workMs, 5000) + 190, closedAt, qMax(workMs, 5000) + 700), closedAt);
        // Exact values: 100, 200, ... one per tick, then full (by a tick or by the jump).
        QVERIFY(!values.isEmpty() && values.last() == 4500);
        const int ticks = values.size() - (values.last() != values.size() * 100 ? 1 : 0);
        for (int i = 0; i < ticks; ++i)
            QCOMPARE(values.at(i), (i + 1) * 100);
        QCOMPARE(qBound(minLastTick, ticks * 100, maxLastTick), ticks * 100);
        // A full bar is shown for the closing 200 ms pause; a jump to full comes right before it.
        QCOMPARE(qBound(190, closedAt - lastAt, workMs ? 500 : 5000), closedAt - lastAt);
    }
    // At its bound, not before (a slow tool is waited for: the slow switch-over above).
    void hangingBoardToolIsKilledAtItsBound()
    {
        QVERIFY(setScenario({"tool.usbswitch=hang"}));
        QElapsedTimer clock;
        clock.start();
        runBoardTool(QStringLiteral("usbswitch -i"), 500); // short, to keep the suite fast
        const int took = int(clock.elapsed());
        QCOMPARE(qBound(500, took, 2000), took); // slack for load
        QCOMPARE(Messages::of(Diagnostics),
                 QStringList{"board tool \"usbswitch -i\" still running after 500 ms, killed"});
    }
};

QTEST_MAIN(tst_IocFpgaCheck)
#include "tst_iocfpgacheck.moc"
