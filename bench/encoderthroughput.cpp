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

#include <atomic>
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

// Turns the encoder `total` steps, mostly up, then back down (the net count
// catches a step lost in either direction, which a one-way run would only
// see as a shortfall), keeping the simulator's queue supplied, until
// `count()` reaches the net count with nothing left queued.
Run feed(QApplication &app, BoardSimClient &board, int total, const std::function<int()> &count)
{
    const int up = total * 3 / 5;
    const int net = up - (total - up);
    // The simulator keeps at most 8192 records per reader and drops the
    // oldest beyond that, so the steps go in chunks that keep its queue full
    // without overflowing it: 2000 steps are 4000 records (a position and a
    // sync each), queued whenever fewer than 4000 are waiting.
    const int chunk = 2000;
    const int refillBelow = 4000;
    // Give up after two minutes.
    const qint64 limitMs = 120000;
    int toQueue = total;
    bool done = false;
    QElapsedTimer clock;
    QTimer feeder;
    feeder.setInterval(5);
    QObject::connect(&feeder, &QTimer::timeout, &app, [&] {
        const int pending = board.pendingRecords();
        if (toQueue == 0 && pending == 0 && count() == net) {
            done = true;
            app.quit();
            return;
        }
        if (clock.elapsed() > limitMs || pending < 0) {
            app.quit();
            return;
        }
        if (toQueue > 0 && pending < refillBelow) {
            const int n = qMin(chunk, toQueue);
            const int ups = qBound(0, up - (total - toQueue), n);
            if ((ups > 0 && !board.turn(ups)) || (n - ups > 0 && !board.turn(-(n - ups))))
                app.quit();
            toQueue -= n;
        }
    });
    clock.start();
    feeder.start();
    app.exec();
    return {done ? clock.elapsed() : -1, count()};
}

// Waits until a reader has queried the start position, as the product's
// reader does right after its open.
bool waitForQuery(BoardSimClient &board)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        for (const QJsonObject &row : board.transcript())
            if (row.value(QStringLiteral("op")).toString() == QLatin1String("ioctl"))
                return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return false;
}

// The bare loop: one blocking read() per record, the step taken as the
// change of position from the last one, as the reader takes it.
Run runBareLoop(QApplication &app, BoardSimClient &board, int total)
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
    const Run run = feed(app, board, total, [&] { return net.load(); });
    // The loop is blocked in read(): one more record lets it see the flag.
    stop = true;
    board.queueRecord(EV_SYN, SYN_REPORT, 0);
    loop.join();
    ::close(fd);
    return run;
}

Run runReader(QApplication &app, BoardSimClient &board, int total)
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
    return feed(app, board, total, [&] { return net.load(); });
}

Run runWindow(QApplication &app, BoardSimClient &board, int total)
{
    board.clearTranscript();
    groundwork window;
    window.show();
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));
    if (!waitForQuery(board))
        return {};
    return feed(app, board, total, [lcd] { return lcd->intValue(); });
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
    struct Consumer
    {
        const char *name;
        Run (*run)(QApplication &, BoardSimClient &, int);
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
            const Run run = consumer.run(app, board, total);
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
    return allKept ? 0 : 1;
}
