#include "boardsimclient.h"
#include "groundwork.h"
#include "qttestsupport.h"
#include "rotaryencoder.h"

#include <QLCDNumber>
#include <QtTest>

#include <csignal>
#include <ctime>
#include <linux/input.h>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

static const QString device = QStringLiteral("/dev/input/event0");

// The reader's debug lines about its device (nothing else here writes any), from any thread,
// with the descriptor's number masked.
static QStringList caughtLines()
{
    return Messages::of().replaceInStrings(QRegularExpression("fd = \\d+"), "fd = N");
}

// QThread names a thread after its class: the kernel's task list shows the running readers.
static QVector<int> readerThreads()
{
    QVector<int> found;
    for (const QFileInfo &task :
         QDir("/proc/self/task").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(task.filePath() + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll() == "RotaryEncoder\n")
            found.append(task.fileName().toInt());
    }
    return found;
}

// The encoder reader and the window's display of it, on the simulated board.
class tst_RotaryEncoder : public QObject
{
    Q_OBJECT

    BoardSimClient m_board;
    QVector<int> m_steps;

    static void onSignal(int) {}
    // This process's CPU time, in ms, while the event loop runs for `ms`.
    static double cpuMsOver(int ms)
    {
        const std::clock_t before = std::clock();
        QTest::qWait(ms);
        return double(std::clock() - before) * 1000 / CLOCKS_PER_SEC;
    }
    // The same for 2 s with the encoder blocked in its wait: this build's and this machine's
    // cost of doing nothing, measured once.
    double idleCpuMs()
    {
        if (m_idleCpuMs < 0) {
            // On the heap, as below: a stack frame the finished reader read would be reused at
            // once, and ThreadSanitizer cannot see QThread::wait() order the two.
            const auto encoder = std::make_unique<RotaryEncoder>();
            if (start(*encoder))
                m_idleCpuMs = cpuMsOver(2000);
        }
        return m_idleCpuMs;
    }
    double m_idleCpuMs = -1;
    static int shown(groundwork &w) { return w.findChild<QLCDNumber *>("lcdNumber")->intValue(); }

    // Number of operations `op` on the device in the board's transcript.
    int deviceOps(const char *op)
    {
        int n = 0;
        for (const QJsonObject &row : m_board.transcript().value_or(QVector<QJsonObject>()))
            n += row.value("op").toString() == op && row.value("path").toString() == device;
        return n;
    }

    // Starts the reader, collecting its steps, and waits until it has queried its start position.
    bool start(RotaryEncoder &encoder)
    {
        disconnect(&encoder, &RotaryEncoder::value, this, nullptr); // once per encoder
        connect(&encoder, &RotaryEncoder::value, this,
                [this](short step) { m_steps.append(step); });
        const int before = deviceOps("ioctl");
        encoder.start();
        return QTest::qWaitFor([&] { return deviceOps("ioctl") > before; }, 5000);
    }

    // Opens the window and waits until its reader has queried the start position.
    bool openWindow(std::unique_ptr<groundwork> &window)
    {
        m_board.clearTranscript();
        window = std::make_unique<groundwork>();
        window->show();
        return QTest::qWaitFor([&] { return deviceOps("ioctl") > 0; }, 5000);
    }

    // `script` is "ACTION -> SHOWN, ...": ACTION is "turn N" (N single detents), "to P" (one
    // record at P, a jump) or "raw TYPE CODE VALUE"; SHOWN is the display after it.
    void play(groundwork &window, const QString &script)
    {
        for (const QString &step : script.split(", ")) {
            const QStringList w = step.split(' ');
            const int a = w.at(1).toInt();
            // A raw record ends its own packet: readers see nothing before the SYN_REPORT.
            QVERIFY(w.first() == "turn" ? m_board.turn(a)
                    : w.first() == "to"
                        ? m_board.turnTo(a)
                        : m_board.queueRecord(a, w.at(2).toInt(), w.at(3).toInt()) &&
                              m_board.queueRecord(EV_SYN, SYN_REPORT, 0));
            QTRY_COMPARE_WITH_TIMEOUT(m_board.pendingRecords().value_or(-1), 0, 2000);
            QTRY_COMPARE_WITH_TIMEOUT(shown(window), w.last().toInt(), 2000);
        }
    }

private slots:
    void initTestCase()
    {
        if (!m_board.isAvailable())
            QSKIP("needs the simulated board: run under boardsim");
        Messages::catchAll();
        // No SA_RESTART: the reader's wait fails with EINTR, as for any signal a library raises.
        struct sigaction action = {};
        action.sa_handler = onSignal;
        QCOMPARE(sigaction(SIGUSR1, &action, nullptr), 0);
    }

    void cleanup()
    {
        m_board.setDeviceGone(false);
        m_board.setIoctlFails(false);
        m_steps.clear();
        Messages::clear();
    }

    void displayFollowsSingleDetents_data()
    {
        QTest::addColumn<int>("start"); // -1: the start position query fails
        QTest::addColumn<QString>("script");
        // One per detent, in order, from the queried start (from 0 or the first record, the
        // first detent would be a jump or nothing).
        QTest::newRow("single detents") << 1000
                                        << "turn 1 -> 1, turn 1 -> 2, turn -1 -> 1, "
                                           "turn -1 -> 0, turn -1 -> -1";
        // A jump changes nothing; the next detent counts from where it landed.
        QTest::newRow("jumps") << 1000 << "to 1004 -> 0, turn 1 -> 1, to 1001 -> 1, turn -1 -> 0";
        // (The step arithmetic and the records without a position: tst_encoderdecoding.)
        // The axis code is not examined: ABS_Y and ABS_WHEEL count like ABS_X.
        QTest::newRow("other axes") << 1000 << "raw 3 1 1001 -> 1, raw 3 8 1000 -> 0, turn 1 -> 1";
        // No start: the first record (1) only becomes the reference (a guessed 0 would count it).
        // Detents turned while nobody had the node open reach no reader (evdev_open).
        QTest::newRow("ghost steps") << 995 << "before 5 -> 0, turn 1 -> 1";
        QTest::newRow("no start position")
            << -1 << "turn 1 -> 0, turn 1 -> 1, turn -1 -> 0, turn -1 -> -1, turn -1 -> -2";
    }

    void displayFollowsSingleDetents()
    {
        QFETCH(int, start);
        QFETCH(QString, script);
        QVERIFY(m_board.setIoctlFails(start < 0));
        QVERIFY(m_board.setPosition(qMax(start, 0)));
        QStringList steps = script.split(", ");
        if (steps.first().startsWith("before "))
            QVERIFY(m_board.turn(steps.takeFirst().section(' ', 1, 1).toInt()));
        std::unique_ptr<groundwork> window;
        QVERIFY(openWindow(window));
        QCOMPARE(shown(*window), 0);
        play(*window, steps.join(", "));
        const QString ioctlError = "/dev/input/event0 ioctl error.  fd = N  "
                                   "errno = Inappropriate ioctl for device (25)";
        QCOMPARE(caughtLines(), start < 0 ? QStringList{ioctlError} : QStringList());
    }

    void missingDeviceLeavesDisplayAtZeroAndWindowWorking()
    {
        QVERIFY(m_board.setDeviceGone(true)); // as boardsim --no-evdev starts
        groundwork window;
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(caughtLines(),
                                  QStringList{"/dev/input/event0 open error.  fd = -1  "
                                              "errno = No such file or directory (2)"},
                                  2000);
        QTRY_VERIFY_WITH_TIMEOUT(readerThreads().isEmpty(), 2000); // and no retry
        QCOMPARE(shown(window), 0);
        QTest::mouseClick(window.findChild<QWidget *>("KeyboardButton"), Qt::LeftButton);
        QVERIFY(window.findChild<QWidget *>("keyTest")->isVisible()); // the window works on
    }

    void closingWindowWithReadPendingEndsReaderAtOnce()
    {
        QVERIFY(m_board.setPosition(0));
        // Repeated: a wake-up lost between the stop check and the wait shows only now and then.
        for (int round = 0; round < 20; ++round) {
            std::unique_ptr<groundwork> window;
            QElapsedTimer clock;
            clock.start();
            QVERIFY(openWindow(window));
            // A lost wake-up holds the close for ever; a kept one costs far less than building
            // the window did, on this machine and build and under its load alike.
            const qint64 opening = clock.elapsed();
            play(*window, "turn 1 -> 1");
            QCOMPARE(readerThreads().size(), 1);
            // Nobody turns the encoder again: only the window's own stop ends the wait.
            clock.restart();
            window.reset();
            const qint64 took = clock.elapsed();
            QVERIFY2(took <= 10 * opening + 10,
                     qPrintable(QString::asprintf("round %d: %lld ms to close, %lld ms to open",
                                                  round, took, opening)));
            QTRY_VERIFY_WITH_TIMEOUT(readerThreads().isEmpty(), 100); // task outlives wait()
            QCOMPARE(deviceOps("close"), 1);
        }
    }

    void readerEndsOnlyOnStopOrLostDevice_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("lines"); // debug lines; -1: the reader goes on
        // A signal interrupts the wait (EINTR): it resumes, after a look at the stop request.
        QTest::newRow("signal") << "signal" << -1;
        QTest::newRow("signal after stop()") << "stop" << 0;
        // Unplugged while the reader waits: the node stays in error for good.
        QTest::newRow("device vanishes") << "gone" << 1;
    }

    void readerEndsOnlyOnStopOrLostDevice()
    {
        QFETCH(QString, event);
        QFETCH(int, lines);
        idleCpuMs(); // measured before this row's counts start
        QVERIFY(m_board.setPosition(1000));
        m_board.clearTranscript();
        // On the heap: its memory, unlike a stack frame, is not reused by the next call.
        const auto encoder = std::make_unique<RotaryEncoder>();
        QVERIFY(start(*encoder));
        if (event == "stop")
            encoder->stop();
        // stop() only raises the flag: the reader sees it once woken, until then it waits on.
        QTest::qWait(200);
        QVERIFY(encoder->isRunning());
        if (event == "gone")
            QVERIFY(m_board.setDeviceGone(true));
        else
            QCOMPARE(syscall(SYS_tgkill, getpid(), readerThreads().value(0), SIGUSR1), 0L);
        if (lines < 0) {
            QVERIFY(m_board.turn(1));
            QTRY_COMPARE_WITH_TIMEOUT(m_steps, QVector<int>{1}, 2000);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(encoder->isFinished(), 1000);
        // Process CPU time: a reader looping on an error burns what the scheduler gives it,
        // a whole core on an idle machine; a finished one costs what an idle wait costs.
        const double usedMs = cpuMsOver(2000);
        const double idleMs = idleCpuMs();
        QVERIFY2(usedMs <= 5 * idleMs + 50,
                 qPrintable(QString::asprintf("%g ms of CPU in 2 s, %g ms idle", usedMs, idleMs)));
        QCOMPARE(caughtLines().size(), lines);
        QCOMPARE(deviceOps("close"), 1);

        // The same object starts again: it opens the device anew and takes a new start position
        // (counted from the old one, 1999 would be a jump).
        QVERIFY(m_board.setDeviceGone(false));
        QVERIFY(m_board.setPosition(2000));
        QVERIFY(start(*encoder));
        QVERIFY(m_board.turn(-1));
        QTRY_COMPARE_WITH_TIMEOUT(m_steps, QVector<int>{-1}, 2000);
    }
};

QTEST_MAIN(tst_RotaryEncoder)
#include "tst_rotaryencoder.moc"
