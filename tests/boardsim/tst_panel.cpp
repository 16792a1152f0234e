// The simulated board's front panel, run under boardsim: what the check mode
// writes shows on the panel, and the panel's dial and switches act on the board.

#include "boardpanel.h"
#include "boardsimclient.h"
#include "boardwatcher.h"
#include "panellamp.h"

#include <QAbstractButton>
#include <QDial>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::optional<QPoint>)

namespace {

QByteArray gpioPath(int line, const char *file)
{
    return QByteArray("/sys/class/gpio/gpio") + QByteArray::number(line) + "/" + file;
}

// One open, write and close, as the check mode writes a GPIO file; the byte
// count or -errno.
int writeFile(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
    const int err = errno;
    ::close(fd);
    return n < 0 ? -err : int(n);
}

int writeGpio(int line, const char *file, const QByteArray &bytes)
{
    return writeFile(gpioPath(line, file), bytes);
}

} // namespace

class tst_BoardPanel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void linesShowTheLevelWritten_data();
    void linesShowTheLevelWritten();
    void everyBeepWriteFlashesAndCounts_data();
    void everyBeepWriteFlashesAndCounts();
    void dialTurnsTheEncoderOneStepPerNotch_data();
    void dialTurnsTheEncoderOneStepPerNotch();
    void switchesFollowAndSetTheScenario_data();
    void switchesFollowAndSetTheScenario();
    void placedBesideTheCheckModeOnlyWhenBothFit_data();
    void placedBesideTheCheckModeOnlyWhenBothFit();
    void boardGoingAwayIsReported_data();
    void boardGoingAwayIsReported();
    void closingThePanelEndsItsWatcherPromptly();
    void programQuitsWithZeroWhenTheBoardGoes();

private:
    QString shown(const char *name) const;

    BoardSimClient m_board;
    std::unique_ptr<BoardPanel> m_panel;
    std::unique_ptr<QSignalSpy> m_gone;
};

void tst_BoardPanel::initTestCase()
{
    QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
    // As the check mode's start-up leaves them: outputs, driven low.
    for (int line : {18, 29, 132}) {
        QVERIFY(writeFile("/sys/class/gpio/export", QByteArray::number(line)) > 0);
        QVERIFY(writeGpio(line, "direction", "out") > 0);
    }
}

void tst_BoardPanel::init()
{
    m_panel.reset(new BoardPanel);
    m_gone.reset(new QSignalSpy(m_panel.get(), &BoardPanel::boardGone));
}

void tst_BoardPanel::cleanup()
{
    // A live board that answers every wait must never count as gone.
    QCOMPARE(m_gone->count(), 0);
    m_gone.reset();
    m_panel.reset();
}

// A lamp as "lit" or "dark", a label as its text.
QString tst_BoardPanel::shown(const char *name) const
{
    QWidget *widget = m_panel->findChild<QWidget *>(QLatin1String(name));
    if (auto lamp = qobject_cast<PanelLamp *>(widget))
        return lamp->isLit() ? QStringLiteral("lit") : QStringLiteral("dark");
    if (auto label = qobject_cast<QLabel *>(widget))
        return label->text();
    return QStringLiteral("no widget ") + name;
}

void tst_BoardPanel::linesShowTheLevelWritten_data()
{
    QTest::addColumn<int>("line");
    QTest::addColumn<QByteArray>("levels");
    QTest::addColumn<QByteArray>("widget");
    QTest::addColumn<QStringList>("shows");

    // The danger lamp and its test line light at "1" only; each follows its own line.
    QTest::newRow("danger lamp") << 132 << QByteArray("10") << QByteArray("dangerLamp")
                                 << QStringList{"lit", "dark"};
    QTest::newRow("danger test") << 29 << QByteArray("101") << QByteArray("dangerTestLamp")
                                 << QStringList{"lit", "dark", "lit"};
    // The alarm sound line and line 18 show the level itself.
    QTest::newRow("alarm sound") << 129 << QByteArray("10") << QByteArray("alarmSoundValue")
                                 << QStringList{"1", "0"};
    QTest::newRow("line 18") << 18 << QByteArray("10") << QByteArray("line18Value")
                             << QStringList{"1", "0"};
}

void tst_BoardPanel::linesShowTheLevelWritten()
{
    QFETCH(int, line);
    QFETCH(QByteArray, levels);
    QFETCH(QByteArray, widget);
    QFETCH(QStringList, shows);

    for (int i = 0; i < levels.size(); ++i) {
        QVERIFY(writeGpio(line, "value", levels.mid(i, 1)) > 0);
        QTRY_COMPARE_WITH_TIMEOUT(shown(widget.constData()), shows.at(i), 2000);
    }
}

void tst_BoardPanel::everyBeepWriteFlashesAndCounts_data()
{
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<bool>("lineIsInput");
    QTest::addColumn<int>("beeps");

    // The check mode writes "0" once per press of the buzzer button.
    QTest::newRow("one press") << QByteArrayList{"0"} << false << 1;
    // Writes inside one flash still count one each.
    QTest::newRow("three presses at once") << QByteArrayList{"0", "0", "0"} << false << 3;
    // The level does not matter: the write itself is the beep.
    QTest::newRow("a one") << QByteArrayList{"1"} << false << 1;
    // A write the line refuses (it was made an input) drives nothing.
    QTest::newRow("refused writes") << QByteArrayList{"0", "0"} << true << 0;
}

void tst_BoardPanel::everyBeepWriteFlashesAndCounts()
{
    QFETCH(QByteArrayList, writes);
    QFETCH(bool, lineIsInput);
    QFETCH(int, beeps);

    const int before = m_panel->findChild<QLabel *>("beepCount")->text().section(' ', 1).toInt();
    if (lineIsInput)
        QVERIFY(writeGpio(128, "direction", "in") > 0);
    for (const QByteArray &bytes : writes)
        QCOMPARE(writeGpio(128, "value", bytes), lineIsInput ? -EPERM : 1);
    QVERIFY(writeGpio(128, "direction", "out") > 0);
    // One more beep of our own: once it is counted, everything before it was
    // seen, as the transcript keeps the order.
    QElapsedTimer sinceLastBeep;
    sinceLastBeep.start();
    QCOMPARE(writeGpio(128, "value", "0"), 1);

    QTRY_COMPARE_WITH_TIMEOUT(shown("beepCount"),
                              QStringLiteral("Beeps: %1").arg(before + beeps + 1), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(shown("beepLamp"), QStringLiteral("lit"), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(shown("beepLamp"), QStringLiteral("dark"), 2000);
    // The flash starts when the panel sees the write, never before it; a
    // 150 ms precise timer fires no earlier than 150 ms.
    QVERIFY2(sinceLastBeep.elapsed() >= BoardPanel::beepFlashMs,
             qPrintable(QString::number(sinceLastBeep.elapsed())));
}

void tst_BoardPanel::dialTurnsTheEncoderOneStepPerNotch_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("steps");

    // Within the dial's 20 notches round.
    QTest::newRow("three notches up") << 0 << 3 << 3;
    QTest::newRow("two notches down") << 5 << 3 << -2;
    // Across the wrap point the dial went the short way round.
    QTest::newRow("up past the top") << 18 << 1 << 3;
    QTest::newRow("down past the top") << 1 << 18 << -3;
    // 0 and 20 are one place on a wrapping dial: no turn at all.
    QTest::newRow("top from either end") << 0 << 20 << 0;
}

void tst_BoardPanel::dialTurnsTheEncoderOneStepPerNotch()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, steps);

    auto dial = m_panel->findChild<QDial *>("encoderDial");
    dial->setValue(from);
    const int position = m_board.position();
    const int pending = m_board.pendingRecords();
    dial->setValue(to);
    QCOMPARE(m_board.position(), position + steps);
    // Single steps: one ABS_X record and one EV_SYN per notch (a jump would queue two in all).
    QCOMPARE(m_board.pendingRecords() - pending, 2 * qAbs(steps));
    QTRY_COMPARE_WITH_TIMEOUT(shown("encoderPosition"),
                              QStringLiteral("Position: %1").arg(position + steps), 2000);
}

void tst_BoardPanel::switchesFollowAndSetTheScenario_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("choose");
    QTest::addColumn<QString>("keyAfter");
    QTest::addColumn<QString>("toolAfter");

    // Each switch sets its own key at once.
    QTest::newRow("ioc present to absent") << "ioc"
                                           << "present"
                                           << "absent"
                                           << "absent"
                                           << "";
    QTest::newRow("ioc late to second") << "ioc"
                                        << "late"
                                        << "second"
                                        << "second"
                                        << "";
    QTest::newRow("ioc upper to present") << "ioc"
                                          << "upper"
                                          << "present"
                                          << "present"
                                          << "";
    QTest::newRow("flash good to banner") << "flash"
                                          << "good"
                                          << "banner"
                                          << "banner"
                                          << "ok";
    QTest::newRow("flash case to pieces") << "flash"
                                          << "case"
                                          << "pieces"
                                          << "pieces"
                                          << "ok";
    // boardsim keeps "flash=missing" as the tool missing and the answer as it was...
    QTest::newRow("flash good to missing") << "flash"
                                           << "good"
                                           << "missing"
                                           << "good"
                                           << "missing";
    // ...so another answer must bring the tool back, or the check still finds none.
    QTest::newRow("flash missing to silent") << "flash"
                                             << "missing"
                                             << "silent"
                                             << "silent"
                                             << "ok";
}

void tst_BoardPanel::switchesFollowAndSetTheScenario()
{
    QFETCH(QString, key);
    QFETCH(QString, before);
    QFETCH(QString, choose);
    QFETCH(QString, keyAfter);
    QFETCH(QString, toolAfter);

    auto button = [this, &key](const QString &value) -> QAbstractButton * {
        for (QAbstractButton *b : m_panel->findChildren<QAbstractButton *>()) {
            if (b->objectName().startsWith(key) && b->property("scenarioValue") == value)
                return b;
        }
        return nullptr;
    };
    QVERIFY(button(before) && button(choose));
    QVERIFY(m_board.setScenario(QStringLiteral("tool.flash"), QStringLiteral("ok")));
    QVERIFY(m_board.setScenario(key, before));
    QTRY_VERIFY_WITH_TIMEOUT(button(before)->isChecked(), 2000);

    button(choose)->click();
    const QJsonObject scenario = m_board.state().value("scenario").toObject();
    QCOMPARE(scenario.value(key).toString(), keyAfter);
    if (!toolAfter.isEmpty())
        QCOMPARE(scenario.value("tool.flash").toString(), toolAfter);
    QTRY_VERIFY_WITH_TIMEOUT(button(choose)->isChecked(), 2000);
}

void tst_BoardPanel::placedBesideTheCheckModeOnlyWhenBothFit_data()
{
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<std::optional<QPoint>>("at");

    // 800 px of check mode, a 10 px gap and 360 px of panel need 1170 px.
    QTest::newRow("1200 wide") << QRect(0, 0, 1200, 500) << std::optional<QPoint>(QPoint(810, 0));
    QTest::newRow("exactly 1170") << QRect(0, 0, 1170, 480)
                                  << std::optional<QPoint>(QPoint(810, 0));
    QTest::newRow("1169 wide") << QRect(0, 0, 1169, 480) << std::optional<QPoint>();
    QTest::newRow("the board's own 800") << QRect(0, 0, 800, 480) << std::optional<QPoint>();
    // A screen beside another one: the check mode opens at its corner.
    QTest::newRow("screen at x 1920")
        << QRect(1920, 0, 1280, 1024) << std::optional<QPoint>(QPoint(2730, 0));
}

void tst_BoardPanel::placedBesideTheCheckModeOnlyWhenBothFit()
{
    QFETCH(QRect, screen);
    QFETCH(std::optional<QPoint>, at);
    QCOMPARE(BoardPanel::placeBesideCheckMode(screen), at);
}

void tst_BoardPanel::boardGoingAwayIsReported_data()
{
    QTest::addColumn<bool>("socketFile");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<int>("withinMs");

    // boardsim ended and took its socket away: at once.
    QTest::newRow("no socket file") << false << false << 1000;
    // boardsim killed, its socket file left behind: connecting is refused at once.
    QTest::newRow("stale socket file") << true << false << 1000;
    // A wedged simulator: two connections, each waiting 1 s for a reply.
    QTest::newRow("never answers") << true << true << 4000;
}

void tst_BoardPanel::boardGoingAwayIsReported()
{
    QFETCH(bool, socketFile);
    QFETCH(bool, listening);
    QFETCH(int, withinMs);

    int fd = -1;
    const auto closeSocket = qScopeGuard([&fd] {
        if (fd >= 0)
            ::close(fd);
    });
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("control")).toLocal8Bit();
    if (socketFile) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, path.constData(), sizeof(addr.sun_path));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
        QCOMPARE(::listen(fd, 4), 0);
        if (!listening) {
            ::close(fd);
            fd = -1;
        }
    }
    QElapsedTimer timer;
    timer.start();
    {
        BoardPanel panel(QString::fromLocal8Bit(path));
        QSignalSpy gone(&panel, &BoardPanel::boardGone);
        QTRY_COMPARE_WITH_TIMEOUT(gone.count(), 1, withinMs);
    }
    QVERIFY2(timer.elapsed() < withinMs, qPrintable(QString::number(timer.elapsed())));
}

void tst_BoardPanel::closingThePanelEndsItsWatcherPromptly()
{
    // Half-way into the watcher's second wait on the simulator, which the
    // simulator ends only at its time-out, as nothing happens on the board.
    QTest::qWait(BoardWatcher::waitMs * 3 / 2);
    QElapsedTimer timer;
    timer.start();
    m_panel.reset();
    // One wait of the watcher at most, not the client's 15 s reply bound.
    QVERIFY2(timer.elapsed() < 4 * BoardWatcher::waitMs,
             qPrintable(QString::number(timer.elapsed())));
}

void tst_BoardPanel::programQuitsWithZeroWhenTheBoardGoes()
{
    // boardsim ending is how the panel's run normally ends, not a failure.
    QProcess panel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("BOARDSIM_CONTROL"), QStringLiteral("/nonexistent/control"));
    panel.setProcessEnvironment(env);
    panel.start(QStringLiteral(BOARDSIM_PANEL_EXECUTABLE), QStringList());
    QVERIFY(panel.waitForFinished(5000));
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 0);
}

QTEST_MAIN(tst_BoardPanel)
#include "tst_panel.moc"
