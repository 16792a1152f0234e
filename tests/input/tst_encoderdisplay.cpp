#include "boardsimclient.h"
#include "debuglinecatcher.h"
#include "encoderdevice.h"
#include "groundwork.h"
#include "readerthreads.h"

#include <QLCDNumber>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

#include <linux/input.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// The window's encoder display, driven by turning the simulated board's encoder.
class tst_EncoderDisplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void displayFollowsSingleDetents_data();
    void displayFollowsSingleDetents();
    void missingDeviceLeavesDisplayAtZeroAndWindowWorking();
    void failedPositionQueryStillCountsDetents();
    void closingWindowWithReadPendingEndsReaderAtOnce();

private:
    // Builds the window and waits until its reader holds the start position.
    std::unique_ptr<groundwork> openWindow();
    // Destroys the window and returns how long that took, in ms.
    qint64 closeWindow(std::unique_ptr<groundwork> &window);
    static int shown(groundwork &window);

    BoardSimClient m_board;
};

void tst_EncoderDisplay::initTestCase()
{
    if (!m_board.isAvailable())
        QSKIP("needs the simulated board: run under boardsim");
}

void tst_EncoderDisplay::cleanup()
{
    m_board.setDeviceGone(false);
    m_board.setIoctlFails(false);
}

std::unique_ptr<groundwork> tst_EncoderDisplay::openWindow()
{
    m_board.clearTranscript();
    auto window = std::make_unique<groundwork>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    QElapsedTimer waited;
    waited.start();
    while (EncoderDevice::count(m_board, QStringLiteral("ioctl")) == 0) {
        if (waited.elapsed() > 5000)
            return nullptr;
        QTest::qWait(5);
    }
    return window;
}

qint64 tst_EncoderDisplay::closeWindow(std::unique_ptr<groundwork> &window)
{
    // A reader that ignores the window's stop would block its destruction
    // for good: a second client then turns the encoder after a second, so
    // that the test fails on the time taken instead of hanging.
    std::mutex mutex;
    std::condition_variable closed;
    bool done = false;
    std::thread rescue([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!closed.wait_for(lock, std::chrono::seconds(1), [&] { return done; }))
            BoardSimClient().turn(1);
    });
    QElapsedTimer closing;
    closing.start();
    window.reset();
    const qint64 took = closing.elapsed();
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    closed.notify_one();
    rescue.join();
    return took;
}

int tst_EncoderDisplay::shown(groundwork &window)
{
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));
    return lcd ? lcd->intValue() : INT_MIN;
}

// Each action is "turn N" (N single detents), "to P" (one record at P, a
// jump) or "raw TYPE CODE VALUE" (one record as it stands); `display` is
// what lcdNumber shows after each action.
void tst_EncoderDisplay::displayFollowsSingleDetents_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QList<int>>("display");

    // Single detents count one each, in the order turned.
    QTest::newRow("up twice, down three times")
        << 1000 << QStringList{"turn 1", "turn 1", "turn -1", "turn -1", "turn -1"}
        << QList<int>{1, 2, 1, 0, -1};

    // A jump changes nothing, and the next detent counts from where it landed.
    QTest::newRow("jump up then detents")
        << 1000 << QStringList{"to 1004", "turn 1", "to 1001", "turn -1"} << QList<int>{0, 1, 1, 0};
    // 0 -> 32768 is the step -32768, the largest jump down.
    QTest::newRow("largest jump down")
        << 0 << QStringList{"to 32768", "turn -1"} << QList<int>{0, -1};

    // A multiple of 65536 lies between neighbours like any other count.
    QTest::newRow("up across 65536")
        << 65534 << QStringList{"turn 1", "turn 1", "turn 1"} << QList<int>{1, 2, 3};
    QTest::newRow("down across 0")
        << 1 << QStringList{"turn -1", "turn -1", "turn -1"} << QList<int>{-1, -2, -3};

    // Key, synchronisation and relative records carry no position: had one
    // been taken for one, its value (0 or 1) would leave the next detent a jump.
    QTest::newRow("key, sync and relative records")
        << 1000 << QStringList{"raw 1 256 1", "raw 0 0 0", "raw 2 7 1", "raw 1 256 0", "turn 1"}
        << QList<int>{0, 0, 0, 0, 1};

    // The axis code is not examined: ABS_Y and ABS_WHEEL count like ABS_X.
    QTest::newRow("other absolute axes")
        << 1000 << QStringList{"raw 3 1 1001", "raw 3 8 1000", "turn 1"} << QList<int>{1, 0, 1};

    // The first record counts against the position queried at start: 5001
    // is one detent only from the device's 5000, not from 0 nor from itself.
    QTest::newRow("start position from the device")
        << 5000 << QStringList{"raw 3 0 5001"} << QList<int>{1};
}

void tst_EncoderDisplay::displayFollowsSingleDetents()
{
    QFETCH(int, start);
    QFETCH(QStringList, actions);
    QFETCH(QList<int>, display);
    QCOMPARE(actions.size(), display.size());

    QVERIFY(m_board.setPosition(start));
    std::unique_ptr<groundwork> window = openWindow();
    QVERIFY(window);
    QCOMPARE(shown(*window), 0);

    for (int i = 0; i < actions.size(); ++i) {
        const QStringList words = actions.at(i).split(QLatin1Char(' '));
        if (words.first() == QLatin1String("turn"))
            QVERIFY(m_board.turn(words.at(1).toInt()));
        else if (words.first() == QLatin1String("to"))
            QVERIFY(m_board.turnTo(words.at(1).toInt()));
        else
            QVERIFY(
                m_board.queueRecord(words.at(1).toInt(), words.at(2).toInt(), words.at(3).toInt()));
        // Read by the reader, then shown once its queued steps are handled.
        QTRY_COMPARE_WITH_TIMEOUT(m_board.pendingRecords(), 0, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(shown(*window), display.at(i), 2000);
    }
    QVERIFY(closeWindow(window) < 100);
}

void tst_EncoderDisplay::missingDeviceLeavesDisplayAtZeroAndWindowWorking()
{
    // Under --no-evdev there is no node at all; otherwise unplug it.
    const bool simulated = QFile::exists(EncoderDevice::path());
    if (simulated)
        QVERIFY(m_board.setDeviceGone(true));

    DebugLineCatcher log(EncoderDevice::path() + QLatin1Char(' '));
    groundwork window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY_WITH_TIMEOUT(ReaderThreads::ids().isEmpty(), 2000);
    const QStringList expected{QStringLiteral("/dev/input/event0 open error.  fd = -1  "
                                              "errno = No such file or directory (2)")};
    QCOMPARE(log.lines(), expected);

    // The window goes on without its reader.
    auto *keyboardButton = window.findChild<QPushButton *>(QStringLiteral("KeyboardButton"));
    auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QVERIFY(keyboardButton && stack);
    QTest::mouseClick(keyboardButton, Qt::LeftButton);
    QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("keyTest"));

    // A detent of a device that comes back later is not read: no retry.
    if (simulated) {
        QVERIFY(m_board.setDeviceGone(false));
        QVERIFY(m_board.turn(1));
        QTest::qWait(200);
    }
    QCOMPARE(shown(window), 0);
    QCOMPARE(log.lines().size(), 1);
}

void tst_EncoderDisplay::failedPositionQueryStillCountsDetents()
{
    QVERIFY(m_board.setIoctlFails(true));
    QVERIFY(m_board.setPosition(300));

    DebugLineCatcher log(EncoderDevice::path() + QLatin1Char(' '));
    std::unique_ptr<groundwork> window = openWindow();
    QVERIFY(window);
    const QRegularExpression line(QStringLiteral(
        "^/dev/input/event0 ioctl error\\.  fd = \\d+  errno = Inappropriate ioctl for device "
        "\\(25\\)$"));
    QCOMPARE(log.lines().size(), 1);
    QVERIFY2(line.match(log.lines().first()).hasMatch(), qPrintable(log.lines().first()));

    // Without a start position the first record only becomes the reference;
    // every detent after it counts.
    const QList<int> display{0, 1, 0, -1, -2};
    const QList<int> turns{1, 1, -1, -1, -1};
    for (int i = 0; i < turns.size(); ++i) {
        QVERIFY(m_board.turn(turns.at(i)));
        QTRY_COMPARE_WITH_TIMEOUT(m_board.pendingRecords(), 0, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(shown(*window), display.at(i), 2000);
    }
    QCOMPARE(log.lines().size(), 1);
    QVERIFY(closeWindow(window) < 100);
}

void tst_EncoderDisplay::closingWindowWithReadPendingEndsReaderAtOnce()
{
    QVERIFY(m_board.setPosition(0));
    // Repeated, because a wake-up that can fall between the reader's stop
    // check and its wait would only show now and then.
    for (int round = 0; round < 20; ++round) {
        std::unique_ptr<groundwork> window = openWindow();
        QVERIFY(window);
        QVERIFY(m_board.turn(1));
        QTRY_COMPARE_WITH_TIMEOUT(shown(*window), 1, 2000);
        QCOMPARE(ReaderThreads::ids().size(), 1);

        // Nobody turns the encoder again: only the window's own stop ends the wait.
        const qint64 took = closeWindow(window);
        QVERIFY2(took < 100, qPrintable(QStringLiteral("round %1: %2 ms").arg(round).arg(took)));
        QVERIFY(ReaderThreads::ids().isEmpty());
        QCOMPARE(EncoderDevice::count(m_board, QStringLiteral("close")), 1);
    }
}

QTEST_MAIN(tst_EncoderDisplay)
#include "tst_encoderdisplay.moc"
