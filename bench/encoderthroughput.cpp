// How many encoder steps per second the reader and the window's display keep
// up with, and whether any is lost on the way. Run it on the simulated board:
//   boardsim -- bench_encoder [steps]
// The simulator is kept supplied with records; a reader that falls behind
// leaves them queued there, so a lost step can only be the reader's fault.

#include "boardsimclient.h"
#include "groundwork.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLCDNumber>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);

    const int total = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    // Mostly up, then back down: the net count catches a step lost in
    // either direction, which a one-way run would only see as a shortfall.
    const int up = total * 3 / 5;
    const int down = total - up;
    const int net = up - down;

    BoardSimClient board;
    if (!board.isAvailable()) {
        out << "bench_encoder: no simulated board (" << board.lastError()
            << "); run it as: boardsim -- bench_encoder" << Qt::endl;
        return 2;
    }
    board.setPosition(0);
    board.clearTranscript();

    groundwork window;
    window.show();
    auto *lcd = window.findChild<QLCDNumber *>(QStringLiteral("lcdNumber"));

    // Wait until the reader holds its start position, or the first steps
    // would be read against the wrong one.
    QElapsedTimer clock;
    clock.start();
    auto queried = [&board] {
        for (const QJsonObject &row : board.transcript().value_or(QVector<QJsonObject>()))
            if (row.value(QStringLiteral("op")).toString() == QLatin1String("ioctl"))
                return true;
        return false;
    };
    while (!queried()) {
        if (clock.elapsed() > 5000) {
            out << "bench_encoder: the reader never queried the position" << Qt::endl;
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    // The simulator keeps at most 8192 records per reader and drops the
    // oldest beyond that, so the steps go in chunks that keep its queue
    // full without overflowing it: 2000 steps are 4000 records (a position
    // and a sync each), queued whenever fewer than 4000 are waiting.
    const int chunk = 2000;
    const int refillBelow = 4000;
    int toQueue = total;
    bool failed = false;
    // Done when the display shows the net count and the simulator has
    // nothing left to hand out; give up after two minutes.
    const qint64 limitMs = 120000;
    QTimer feeder;
    feeder.setInterval(5);
    QObject::connect(&feeder, &QTimer::timeout, &app, [&] {
        const int pending = board.pendingRecords().value_or(-1);
        if (toQueue == 0 && pending == 0 && lcd->intValue() == net) {
            app.quit();
            return;
        }
        if (clock.elapsed() > limitMs || pending < 0) {
            failed = pending < 0;
            app.quit();
            return;
        }
        if (toQueue > 0 && pending < refillBelow) {
            const int n = qMin(chunk, toQueue);
            // The up steps first, then the down steps.
            const int queued = total - toQueue;
            const int ups = qBound(0, up - queued, n);
            if ((ups > 0 && !board.turn(ups)) || (n - ups > 0 && !board.turn(-(n - ups))))
                failed = true;
            toQueue -= n;
        }
    });
    clock.restart();
    feeder.start();
    app.exec();
    const qint64 elapsedMs = clock.elapsed();
    if (failed)
        out << "bench_encoder: " << board.lastError() << Qt::endl;

    const int shown = lcd->intValue();
    const double perSecond = elapsedMs > 0 ? total * 1000.0 / double(elapsedMs) : 0;
    out << "steps: " << total << " (" << up << " up, " << down << " down)" << Qt::endl;
    out << "display: " << shown << ", expected " << net << ", lost " << (net - shown) << Qt::endl;
    out << "time: " << elapsedMs << " ms, " << qRound(perSecond) << " steps/s" << Qt::endl;
    return shown == net ? 0 : 1;
}
