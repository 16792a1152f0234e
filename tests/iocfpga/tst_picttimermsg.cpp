#include "picttimermsg.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QtTest>

// The waiting dialog's timeline: its countdown runs from construction, the bar
// from timerStart(), and it ends on a full bar held for 200 ms.
class tst_PictTimerMsg : public QObject
{
    Q_OBJECT

private slots:
    void closesOnFullBarCountedFromConstruction_data();
    void closesOnFullBarCountedFromConstruction();
    void escapeEndsTheWaitAtOnce();
};

namespace {

struct BarStep
{
    qint64 atMs;
    int value;
};

constexpr int BarFull = 4500;
constexpr int Step = 100;

} // namespace

void tst_PictTimerMsg::closesOnFullBarCountedFromConstruction_data()
{
    // Blocking work between construction and exec(), as the IOC check's two
    // switch-over commands are; the expected last tick and close time follow
    // from a 5000 ms countdown that Qt may end up to 5 % (250 ms) early, plus
    // slack for a loaded machine.
    QTest::addColumn<int>("workMs");
    QTest::addColumn<int>("minLastTick"); // last value before the jump to full
    QTest::addColumn<int>("maxLastTick");
    QTest::addColumn<int>("minCloseMs"); // exec() returns, from construction
    QTest::addColumn<int>("maxCloseMs");

    // 45 ticks of 100 ms fill the bar at 4.5 s, before the countdown ends.
    QTest::newRow("no work") << 0 << BarFull << BarFull << 4750 + 190 << 5000 + 200 + 500;
    // Ticks from 3 s to ~5 s: about 2000 of 4500, then the jump to full.
    QTest::newRow("3 s of work") << 3000 << 1400 << 2300 << 4750 + 190 << 5000 + 200 + 500;
    // The countdown is over before exec(): no tick at all, only the full bar.
    QTest::newRow("6 s of work") << 6000 << 0 << 0 << 6000 + 190 << 6000 + 200 + 500;
}

void tst_PictTimerMsg::closesOnFullBarCountedFromConstruction()
{
    QFETCH(int, workMs);
    QFETCH(int, minLastTick);
    QFETCH(int, maxLastTick);
    QFETCH(int, minCloseMs);
    QFETCH(int, maxCloseMs);

    QElapsedTimer clock;
    clock.start();
    PictTimerMsg dialog;
    auto *bar = dialog.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QVERIFY(bar);
    QVector<BarStep> steps;
    bool percentShown = false;
    connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
        steps.append({clock.elapsed(), value});
        percentShown = percentShown || bar->isTextVisible();
    });

    QThread::msleep(ulong(workMs)); // no events: timers cannot fire meanwhile
    const qint64 execAt = clock.elapsed();
    dialog.timerStart();
    const int result = dialog.exec();
    const qint64 closedAt = clock.elapsed();

    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(!percentShown);
    QVERIFY2(closedAt >= minCloseMs && closedAt <= maxCloseMs,
             qPrintable(QStringLiteral("closed at %1 ms").arg(closedAt)));

    // Exact values: 100, 200, ... one step per tick, then full; full is the
    // last value whether reached by ticks or by the jump.
    QVERIFY(!steps.isEmpty());
    QCOMPARE(steps.last().value, BarFull);
    const int ticks = steps.last().value == steps.size() * Step ? steps.size() : steps.size() - 1;
    for (int i = 0; i < ticks; ++i)
        QCOMPARE(steps.at(i).value, (i + 1) * Step);
    const int lastTick = ticks > 0 ? steps.at(ticks - 1).value : 0;
    QVERIFY2(lastTick >= minLastTick && lastTick <= maxLastTick,
             qPrintable(QStringLiteral("last tick %1").arg(lastTick)));

    if (ticks > 0) {
        // The bar follows the clock from timerStart(): first tick after ~100 ms,
        // then ~100 ms apart (a precise timer, but no catching up when late).
        const qint64 firstTickAfter = steps.first().atMs - execAt;
        QVERIFY2(firstTickAfter >= 90 && firstTickAfter <= 300,
                 qPrintable(QStringLiteral("first tick after %1 ms").arg(firstTickAfter)));
        if (ticks > 1) {
            const double spacing =
                double(steps.at(ticks - 1).atMs - steps.first().atMs) / (ticks - 1);
            QVERIFY2(spacing >= 95 && spacing <= 130,
                     qPrintable(QStringLiteral("ticks %1 ms apart").arg(spacing)));
        }
    }
    // A full bar is on screen for at least the closing 200 ms pause.
    const qint64 fullFor = closedAt - steps.last().atMs;
    QVERIFY2(fullFor >= 190, qPrintable(QStringLiteral("full for %1 ms").arg(fullFor)));
    if (workMs > 0) // the jump to full comes with the countdown, right before the pause
        QVERIFY2(fullFor <= 500, qPrintable(QStringLiteral("full for %1 ms").arg(fullFor)));
}

void tst_PictTimerMsg::escapeEndsTheWaitAtOnce()
{
    QElapsedTimer clock;
    clock.start();
    PictTimerMsg dialog;
    auto *bar = dialog.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QVERIFY(bar);
    qint64 escapedAt = -1;
    // QDialog's own key handling: Escape rejects, no button needed.
    QTimer::singleShot(1000, &dialog, [&] {
        QApplication::setActiveWindow(&dialog);
        escapedAt = clock.elapsed();
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    dialog.timerStart();
    const int result = dialog.exec();
    const qint64 returnedAt = clock.elapsed();

    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(escapedAt >= 0);
    QVERIFY2(returnedAt - escapedAt < 100,
             qPrintable(QStringLiteral("returned %1 ms late").arg(returnedAt - escapedAt)));
    // Ended long before the countdown, so the bar never jumped to full.
    QVERIFY(bar->value() < BarFull);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(tst_PictTimerMsg)
#include "tst_picttimermsg.moc"
