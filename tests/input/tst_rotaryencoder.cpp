#include "boardsimclient.h"
#include "debuglinecatcher.h"
#include "encoderdevice.h"
#include "readerthreads.h"
#include "rotaryencoder.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// The reader thread on the simulated board: how it starts, stops, survives
// signals and ends when its device goes.
class tst_RotaryEncoder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void stepsArriveInOrderOnTheGuiThread();
    void stopRequestWaitsForTheNextRecord();
    void signalDuringWaitIsRetriedAfterStopCheck_data();
    void signalDuringWaitIsRetriedAfterStopCheck();
    void vanishedDeviceEndsThreadWithoutSpinning();

private:
    // Starts the reader and waits until it has its start position, so that
    // records queued from here on are read against it.
    bool startAndWaitForPosition(RotaryEncoder &encoder);
    void collectSteps(RotaryEncoder &encoder);

    BoardSimClient m_board;
    QVector<int> m_steps;
    bool m_allOnGuiThread = true;
};

void tst_RotaryEncoder::initTestCase()
{
    if (!m_board.isAvailable())
        QSKIP("needs the simulated board: run under boardsim");
}

void tst_RotaryEncoder::init()
{
    m_steps.clear();
    m_allOnGuiThread = true;
    QVERIFY(m_board.setDeviceGone(false));
    QVERIFY(m_board.setIoctlFails(false));
    QVERIFY(m_board.setPosition(1000));
    QVERIFY(m_board.clearTranscript());
}

void tst_RotaryEncoder::cleanup()
{
    m_board.setDeviceGone(false);
}

bool tst_RotaryEncoder::startAndWaitForPosition(RotaryEncoder &encoder)
{
    const int queriesBefore = EncoderDevice::count(m_board, QStringLiteral("ioctl"));
    encoder.start();
    QElapsedTimer waited;
    waited.start();
    while (EncoderDevice::count(m_board, QStringLiteral("ioctl")) == queriesBefore) {
        if (waited.elapsed() > 5000)
            return false;
        QTest::qWait(5);
    }
    return true;
}

void tst_RotaryEncoder::collectSteps(RotaryEncoder &encoder)
{
    // A receiver on the GUI thread, as the window's display handler is.
    connect(&encoder, &RotaryEncoder::value, this, [this](short axis) {
        m_steps.append(axis);
        if (QThread::currentThread() != thread())
            m_allOnGuiThread = false;
    });
}

void tst_RotaryEncoder::stepsArriveInOrderOnTheGuiThread()
{
    RotaryEncoder encoder;
    collectSteps(encoder);
    QVERIFY(startAndWaitForPosition(encoder));

    QVERIFY(m_board.turn(2));
    QVERIFY(m_board.turnTo(1005));
    QVERIFY(m_board.turn(-1));
    // Two detents up, a jump of three, one down: one signal per position record.
    const QVector<int> expected{1, 1, 3, -1};
    QTRY_COMPARE_WITH_TIMEOUT(m_steps, expected, 2000);
    QVERIFY(m_allOnGuiThread);
}

void tst_RotaryEncoder::stopRequestWaitsForTheNextRecord()
{
    RotaryEncoder encoder;
    collectSteps(encoder);
    QVERIFY(startAndWaitForPosition(encoder));

    // stop() only raises the flag: the reader sees it when the device has
    // given it something to do, and until then keeps the device open.
    encoder.stop();
    QTest::qWait(300);
    QVERIFY(encoder.isRunning());
    QCOMPARE(EncoderDevice::count(m_board, QStringLiteral("close")), 0);

    // The record that wakes it is still counted before the loop ends.
    QVERIFY(m_board.turn(1));
    QTRY_VERIFY_WITH_TIMEOUT(encoder.isFinished(), 2000);
    QCOMPARE(m_steps, QVector<int>{1});
    QTRY_COMPARE_WITH_TIMEOUT(EncoderDevice::count(m_board, QStringLiteral("close")), 1, 2000);

    // The loop cleared the request, so the same object runs again: it opens
    // the device anew and takes a new start position.
    QVERIFY(m_board.setPosition(2000));
    QVERIFY(startAndWaitForPosition(encoder));
    QCOMPARE(EncoderDevice::count(m_board, QStringLiteral("open")), 2);
    QVERIFY(m_board.turn(-1));
    // 2000 -> 1999 is one detent down; counted from the old reference
    // (1001) it would be a jump of 998.
    QTRY_COMPARE_WITH_TIMEOUT(m_steps, (QVector<int>{1, -1}), 2000);
    QVERIFY(encoder.isRunning());
}

static void ignoreSignal(int) {}

// CPU time the whole process has used so far, user and system, in ms.
static double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

void tst_RotaryEncoder::signalDuringWaitIsRetriedAfterStopCheck_data()
{
    QTest::addColumn<bool>("stopFirst");
    QTest::addColumn<bool>("endsWithoutRecord");

    // The interrupted wait resumes: the next detent still counts.
    QTest::newRow("no stop request") << false << false;
    // The interrupted wait looks at the stop request before it resumes.
    QTest::newRow("stop requested") << true << true;
}

void tst_RotaryEncoder::signalDuringWaitIsRetriedAfterStopCheck()
{
    QFETCH(bool, stopFirst);
    QFETCH(bool, endsWithoutRecord);

    // A handler without SA_RESTART, so the reader's wait fails with EINTR
    // as it would for any signal a library of the process raises.
    struct sigaction action
    {
    };
    action.sa_handler = ignoreSignal;
    struct sigaction previous
    {
    };
    QCOMPARE(sigaction(SIGUSR1, &action, &previous), 0);

    RotaryEncoder encoder;
    collectSteps(encoder);
    QVERIFY(startAndWaitForPosition(encoder));
    QTest::qWait(50);
    const QVector<int> readers = ReaderThreads::ids();
    QCOMPARE(readers.size(), 1);

    if (stopFirst)
        encoder.stop();
    QCOMPARE(syscall(SYS_tgkill, getpid(), readers.first(), SIGUSR1), 0L);
    if (endsWithoutRecord) {
        QTRY_VERIFY_WITH_TIMEOUT(encoder.isFinished(), 2000);
    } else {
        QTest::qWait(200);
        QVERIFY(encoder.isRunning());
        QVERIFY(m_board.turn(1));
        QTRY_COMPARE_WITH_TIMEOUT(m_steps, QVector<int>{1}, 2000);
    }
    sigaction(SIGUSR1, &previous, nullptr);
}

void tst_RotaryEncoder::vanishedDeviceEndsThreadWithoutSpinning()
{
    RotaryEncoder encoder;
    collectSteps(encoder);
    QVERIFY(startAndWaitForPosition(encoder));
    QVERIFY(m_board.turn(1));
    QTRY_COMPARE_WITH_TIMEOUT(m_steps, QVector<int>{1}, 2000);

    {
        DebugLineCatcher log(EncoderDevice::path() + QLatin1Char(' '));
        // Unplugged while the reader waits: the node stays in error for good.
        QVERIFY(m_board.setDeviceGone(true));
        QTRY_VERIFY_WITH_TIMEOUT(encoder.isFinished(), 1000);
        QCOMPARE(log.lines().size(), 1);
        QVERIFY2(log.lines().first().contains(QLatin1String("error.  fd = ")),
                 qPrintable(log.lines().first()));

        // A reader looping on the error would burn a whole core, ~2000 ms here.
        const double before = processCpuMs();
        QTest::qWait(2000);
        const double used = processCpuMs() - before;
        QVERIFY2(used < 200, qPrintable(QStringLiteral("%1 ms of CPU in 2 s").arg(used)));
        QCOMPARE(log.lines().size(), 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(EncoderDevice::count(m_board, QStringLiteral("close")), 1, 2000);
    QVERIFY(ReaderThreads::ids().isEmpty());

    // Plugged in again, the same object reads it again.
    QVERIFY(m_board.setDeviceGone(false));
    QVERIFY(startAndWaitForPosition(encoder));
    QVERIFY(m_board.turn(1));
    QTRY_COMPARE_WITH_TIMEOUT(m_steps, (QVector<int>{1, 1}), 2000);
}

QTEST_GUILESS_MAIN(tst_RotaryEncoder)
#include "tst_rotaryencoder.moc"
