// How many encoder steps per second the reader keeps up with, side by side
// with what the device itself allows, and whether any step is lost. Run it on
// the simulated board:
//   boardsim -- bench_encoder [steps]
// Three consumers take the same steps in turn, each alone on the device:
//   bare loop     a plain read() of one record at a time, nothing else: the
//                 most a reader can get from the device;
//   reader        RotaryEncoder alone, its steps counted on its own thread;
//   whole window  the window's reader and its display on the GUI thread.
// On the simulated board every poll() and read() is a round trip to the
// simulator, so system calls per record decide the figures.
// The simulator is kept supplied with records; a consumer that falls behind
// leaves them queued there, so a lost step can only be the consumer's fault.

#include "boardsimclient.h"
#include "groundwork.h"
#include "rotaryencoder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLCDNumber>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

namespace {

const char *const Device = "/dev/input/event0";

struct Run
{
    qint64 elapsedMs = -1; // -1: gave up
    int net = 0;           // the count the consumer ended with
};

// Like the kernel's evdev, the simulator gives each open descriptor a ring of
// 128 events for this device (eight packets of at least 64 events, rounded
// up to a power of two) and, when a turn finds it full, drops everything
// unread and leaves SYN_DROPPED. Every step is two records, a position and
// a sync.
constexpr int RingRecords = 128;
constexpr int BurstSteps = 16;

// Turns the encoder `total` steps, mostly up, then back down (the net count
// catches a step lost in either direction, which a one-way run would only
// see as a shortfall), from a thread of its own with its own connection to
// the board, so that the GUI thread of the window is not the one feeding it.
// With `stepsPerSecond` 0 it keeps the consumer's ring supplied without
// letting it overflow; otherwise it turns at that pace whatever the consumer
// does. Returns when `count()` reaches the net count with nothing left
// queued, or after two minutes, or once the feed is over and the count has
// not moved for a second (steps were lost).
Run feed(QApplication &app, int total, int stepsPerSecond, const std::function<int()> &count)
{
    const int up = total * 3 / 5;
    const int net = up - (total - up);
    std::atomic<bool> fed{false}, failed{false}, cancel{false};
    std::thread feeder([&] {
        BoardSimClient board;
        using Clock = std::chrono::steady_clock;
        // Paced: one burst every millisecond at most, bigger bursts above 1000 steps/s, but
        // never one that would fill the ring on its own.
        const int burst = stepsPerSecond > 0 ? qBound(1, stepsPerSecond / 1000, 32) : BurstSteps;
        const auto interval = std::chrono::nanoseconds(
            stepsPerSecond > 0 ? qint64(burst) * 1000000000 / stepsPerSecond : 0);
        auto next = Clock::now();
        for (int queued = 0; queued < total && !cancel;) {
            if (stepsPerSecond == 0) {
                const int pending = board.pendingRecords().value_or(-1);
                if (pending < 0) {
                    failed = true;
                    break;
                }
                // The ring is full, and overflows, when it would hold 128.
                if (pending + 2 * BurstSteps >= RingRecords)
                    continue; // the consumer is behind: wait for it
            }
            const int n = qMin(burst, total - queued);
            const int ups = qBound(0, up - queued, n);
            if ((ups > 0 && !board.turn(ups)) || (n - ups > 0 && !board.turn(-(n - ups)))) {
                failed = true;
                break;
            }
            queued += n;
            if (stepsPerSecond > 0) {
                // A feeder held up by the machine does not catch up in one rush: the
                // pace then falls short of the nominal one, never above it.
                next = std::max(next + interval, Clock::now());
                std::this_thread::sleep_until(next);
            }
        }
        fed = true;
    });

    BoardSimClient board;
    const qint64 limitMs = 120000;
    bool done = false;
    int lastCount = count();
    QElapsedTimer clock, still;
    still.start();
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, &app, [&] {
        const int now = count();
        if (now != lastCount) {
            lastCount = now;
            still.restart();
        }
        if (fed && now == net && board.pendingRecords().value_or(-1) == 0) {
            done = true;
            app.quit();
        } else if (failed || clock.elapsed() > limitMs || (fed && still.elapsed() > 1000)) {
            app.quit();
        }
    });
    clock.start();
    watcher.start();
    app.exec();
    const qint64 elapsedMs = clock.elapsed();
    cancel = true;
    feeder.join();
    return {done ? elapsedMs : -1, count()};
}

// Waits until a reader has queried the start position, as the product's
// reader does right after its open.
bool waitForQuery(BoardSimClient &board)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        for (const QJsonObject &row : board.transcript().value_or(QVector<QJsonObject>()))
            if (row.value(QStringLiteral("op")).toString() == QLatin1String("ioctl"))
                return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return false;
}

// The bare loop: one blocking read() per record, counting the change of
// position from the last one (all of it, where the reader counts only
// single steps).
Run runBareLoop(QApplication &app, BoardSimClient &board, int total, int pace)
{
    const int fd = ::open(Device, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::atomic<int> net{0};
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        input_event record;
        int last = 0;
        while (!stop.load(std::memory_order_relaxed) &&
               ::read(fd, &record, sizeof record) == ssize_t(sizeof record)) {
            if (record.type != EV_ABS)
                continue;
            net.fetch_add(record.value - last, std::memory_order_relaxed);
            last = record.value;
        }
    });
    const Run run = feed(app, total, pace, [&] { return net.load(); });
    // The loop is blocked in read(): a vanished device fails it with ENODEV
    // (a lone record would not do: like the kernel, the board hands out only
    // whole packets, and an empty one not at all).
    stop = true;
    board.setDeviceGone(true);
    loop.join();
    board.setDeviceGone(false);
    ::close(fd);
    return run;
}

Run runReader(QApplication &app, BoardSimClient &board, int total, int pace)
{
    RotaryEncoder encoder;
    std::atomic<int> net{0};
    // Counted on the reader's own thread: this measures the reader, not the
    // event loop that would carry the steps to the GUI thread.
    QObject::connect(
        &encoder, &RotaryEncoder::value, &encoder,
        [&net](short step) {
            if (step == 1 || step == -1)
                net.fetch_add(step, std::memory_order_relaxed);
        },
        Qt::DirectConnection);
    board.clearTranscript();
    encoder.start();
    if (!waitForQuery(board))
        return {};
    return feed(app, total, pace, [&] { return net.load(); });
}

Run runWindow(QApplication &app, BoardSimClient &board, int total, int pace)
{
    board.clearTranscript();
    groundwork window;
    window.show();
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));
    if (!waitForQuery(board))
        return {};
    return feed(app, total, pace, [lcd] { return lcd->intValue(); });
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);

    const int total = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    // Other work on the machine slows a run down, never speeds it up: the
    // best of a few rounds is the figure to compare.
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 5;
    const int up = total * 3 / 5;
    const int net = up - (total - up);

    BoardSimClient board;
    if (!board.isAvailable()) {
        out << "bench_encoder: no simulated board (" << board.lastError()
            << "); run it as: boardsim -- bench_encoder [steps [rounds]]" << Qt::endl;
        return 2;
    }

    out << "steps per run: " << total << " (" << up << " up, " << (total - up)
        << " down); steps/s of each run, best last" << Qt::endl;
    using Runner = Run (*)(QApplication &, BoardSimClient &, int, int);
    struct Consumer
    {
        const char *name;
        Runner run;
        double best = 0;
        QStringList figures;
    };
    Consumer consumers[] = {
        {"bare loop", runBareLoop, 0, {}},
        {"reader", runReader, 0, {}},
        {"whole window", runWindow, 0, {}},
    };
    bool allKept = true;
    for (int round = 0; round < rounds; ++round) {
        for (Consumer &consumer : consumers) {
            board.setPosition(0);
            const Run run = consumer.run(app, board, total, 0);
            if (run.elapsedMs <= 0 || run.net != net) {
                out << consumer.name << ": lost " << (net - run.net) << " of the net " << net
                    << " steps (" << board.lastError() << ")" << Qt::endl;
                allKept = false;
                continue;
            }
            const double perSecond = total * 1000.0 / double(run.elapsedMs);
            consumer.figures << QString::number(qRound(perSecond));
            consumer.best = qMax(consumer.best, perSecond);
        }
    }
    const double bare = consumers[0].best;
    for (const Consumer &consumer : consumers) {
        out << qSetFieldWidth(14) << Qt::left << consumer.name << qSetFieldWidth(0)
            << consumer.figures.join(QLatin1Char(' ')) << "  best " << qRound(consumer.best)
            << " steps/s";
        if (bare > 0)
            out << ", " << QString::number(consumer.best / bare, 'f', 2) << "x the bare loop";
        out << Qt::endl;
    }

    // Overflow: the encoder turned at a fixed pace, 2 s at each, whatever the
    // consumer does. A full ring drops what is unread; the next position
    // then differs from the last one read by more than one step, which the
    // display ignores, and the detents after it count from there.
    out << "fixed pace, 2 s each: the display's count, and what an overflow lost" << Qt::endl;
    for (int c = 1; c < 3; ++c) {
        out << qSetFieldWidth(14) << Qt::left << consumers[c].name << qSetFieldWidth(0);
        for (int pace = 2000; pace <= 64000; pace *= 2) {
            board.setPosition(0);
            const int steps = 2 * pace;
            const int want = steps * 3 / 5 - (steps - steps * 3 / 5);
            const Run run = consumers[c].run(app, board, steps, pace);
            // A drop in the up turns leaves the count short, one in the down turns above.
            out << pace << ": "
                << (run.net == want
                        ? QStringLiteral("kept")
                        : QStringLiteral("overflowed, shows %1 for %2").arg(run.net).arg(want));
            if (run.net != want)
                break; // faster only loses more
            out << ", ";
        }
        out << Qt::endl;
    }
    return allKept ? 0 : 1;
}
