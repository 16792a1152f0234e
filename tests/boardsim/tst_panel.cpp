// boardsim's front panel: shows what the check mode writes; its dial and switches act on the board

#include "boardpanel.h"
#include "boardwatcher.h"

#include <QtTest>
#include <QtWidgets>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

static int writeGpio(const QByteArray &file, const QByteArray &bytes) // as the check mode: n or -1
{
    QFile gpio(QString("/sys/class/gpio/") + file);
    return gpio.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ? int(gpio.write(bytes)) : -1;
}

class tst_BoardPanel : public QObject
{
    Q_OBJECT
    BoardSimClient m_board;
    QScopedPointer<BoardPanel> m_panel;

    QString shown(const char *name) const
    {
        const QWidget *widget = m_panel->findChild<QWidget *>(name);
        const QVariant lit = widget->property("lit"); // a lamp shows "1" when lit, "0" when dark
        return lit.isValid() ? QString::number(lit.toInt()) : widget->property("text").toString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
        for (const QByteArray line : {"18", "29", "132"}) { // outputs, as the check mode leaves
            QVERIFY(writeGpio("export", line) > 0);
            QVERIFY(writeGpio("gpio" + line + "/direction", "out") > 0);
        }
    }
    void init()
    {
        m_panel.reset(new BoardPanel);
        connect(m_panel.data(), &BoardPanel::boardGone, [] { QFAIL("live board taken as gone"); });
    }

    void linesShowTheLevelWritten_data()
    {
        QTest::addColumn<QByteArray>("line"); // the row's name is the widget's
        // The described lines, copied on purpose: the check of the board's own.
        QTest::newRow("dangerLamp") << QByteArray("132");
        QTest::newRow("dangerTestLamp") << QByteArray("29"); // 132 stays "1": its own line only
        QTest::newRow("alarmSoundValue") << QByteArray("129");
        QTest::newRow("line18Value") << QByteArray("18");
    }
    void linesShowTheLevelWritten()
    {
        QFETCH(QByteArray, line);
        for (const QString level : {"1", "0", "1"}) {
            QVERIFY(writeGpio("gpio" + line + "/value", level.toLatin1()) > 0);
            QTRY_COMPARE_WITH_TIMEOUT(shown(QTest::currentDataTag()), level, 2000);
        }
    }

    void everyBeepWriteFlashesAndCounts_data()
    {
        QTest::addColumn<QByteArray>("writes"); // one write per character
        QTest::addColumn<bool>("refused");
        QTest::newRow("one press") << QByteArray("0") << false; // one "0" per buzzer press
        QTest::newRow("three inside one flash") << QByteArray("000") << false;
        QTest::newRow("refused: line is an input") << QByteArray("00") << true; // drives nothing
    }
    void everyBeepWriteFlashesAndCounts()
    {
        QFETCH(QByteArray, writes);
        QFETCH(bool, refused);
        QVERIFY(writeGpio("gpio128/direction", refused ? "in" : "out") > 0);
        for (const char level : writes)
            QCOMPARE(writeGpio("gpio128/value", QByteArray(1, level)), refused ? -1 : 1);
        QVERIFY(writeGpio("gpio128/direction", "out") > 0);
        QCOMPARE(writeGpio("gpio128/value", "0"), 1); // ours last: once it counts, all before did
        const int beeps = (refused ? 0 : writes.size()) + 1;
        QTRY_COMPARE_WITH_TIMEOUT(shown("beepCount"), QString("Beeps: %1").arg(beeps), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(shown("beepLamp"), QString("1"), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(shown("beepLamp"), QString("0"), 2000);
    }

    void dialTurnsTheEncoderOneStepPerNotch_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("steps");
        QTest::newRow("three notches up") << 0 << 3 << 3;
        QTest::newRow("two notches down") << 5 << 3 << -2;
        // 20 notches round: across the top the dial went the short way.
        QTest::newRow("up past the top") << 18 << 1 << 3;
        QTest::newRow("down past the top") << 1 << 18 << -3;
        QTest::newRow("top from either end") << 0 << 20 << 0; // one place on a wrapping dial
    }
    void dialTurnsTheEncoderOneStepPerNotch()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, steps);
        QDial *dial = m_panel->findChild<QDial *>("encoderDial");
        dial->setValue(from);
        const int position = m_board.position().value_or(-1);
        const int reader = ::open("/dev/input/event0", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        dial->setValue(to);
        QCOMPARE(m_board.position().value_or(-1), position + steps);
        QCOMPARE(m_board.pendingRecords().value_or(-1), 2 * qAbs(steps)); // ABS_X+SYN each notch
        ::close(reader);
        QTRY_COMPARE_WITH_TIMEOUT(shown("encoderPosition"),
                                  QString("Position: %1").arg(position + steps), 2000);
    }

    void keypadButtonsPressAndReleaseTheirKeys_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("code");
        QTest::newRow("soft key") << "key_F8" << 66; // KEY_F8
        QTest::newRow("clear") << "key_clear" << 14; // KEY_BACKSPACE
        QTest::newRow("Home") << "key_Home" << 70;   // KEY_SCROLLLOCK
    }
    void keypadButtonsPressAndReleaseTheirKeys()
    {
        QFETCH(QString, button);
        QFETCH(int, code);
        const int reader = ::open("/dev/input/event1", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        QTest::mouseClick(m_panel->findChild<QPushButton *>(button), Qt::LeftButton);
        QVector<int> records; // type, code, value of each
        input_event event{};
        while (::read(reader, &event, sizeof(event)) == ssize_t(sizeof(event)))
            records << event.type << event.code << event.value;
        ::close(reader);
        QCOMPARE(records, (QVector<int>{EV_KEY, code, 1, EV_SYN, SYN_REPORT, 0, //
                                        EV_KEY, code, 0, EV_SYN, SYN_REPORT, 0}));
    }

    void switchesFollowAndSetTheScenario_data()
    {
        QTest::addColumn<QStringList>("row"); // key, board's value, clicked, key then, tool then
        QTest::newRow("ioc") << QStringList{"ioc", "late", "second", "second", "ok"};
        // "flash=missing" takes the tool away; another answer brings it back.
        QTest::newRow("to missing")
            << QStringList{"flash", "good", "missing", "missing", "missing"};
        QTest::newRow("from missing") << QStringList{"flash", "missing", "silent", "silent", "ok"};
    }
    void switchesFollowAndSetTheScenario()
    {
        QFETCH(QStringList, row);
        auto button = [&](const QString &v) { // named after the value, e.g. iocSecond
            return m_panel->findChild<QAbstractButton *>(row[0] + v[0].toUpper() + v.mid(1));
        };
        QVERIFY(button(row[1]) && button(row[2]));
        QVERIFY(m_board.setScenario("tool.flash", "ok"));
        QVERIFY(m_board.setScenario(row[0], row[1]));
        QTRY_VERIFY_WITH_TIMEOUT(button(row[1])->isChecked(), 2000); // the switch follows the board
        button(row[2])->click();
        const QJsonObject scenario =
            m_board.state().value_or(QJsonObject()).value("scenario").toObject();
        QCOMPARE(scenario.value(row[0]).toString(), row[3]);
        QCOMPARE(scenario.value("tool.flash").toString(), row[4]);
        QTRY_VERIFY_WITH_TIMEOUT(button(row[2])->isChecked(), 2000);
    }

    void placedBesideTheCheckModeOnlyWhenBothFit()
    {
        const auto at = &BoardPanel::placeBesideCheckMode;
        QCOMPARE(at({0, 0, 1170, 480}), std::make_optional(QPoint(810, 0))); // 800+10+360 px fit
        QCOMPARE(at({0, 0, 1169, 480}), std::optional<QPoint>());
        QCOMPARE(at({1920, 0, 1280, 1024}), std::make_optional(QPoint(2730, 0))); // a second screen
    }

    void closingThePanelEndsItsWatcherPromptly()
    {
        // Mid-way into a wait that boardsim ends only at its time-out: about one wait, not 15 s.
        QTest::qWait(BoardWatcher::waitMs * 3 / 2);
        const QDeadlineTimer deadline(4LL * BoardWatcher::waitMs);
        m_panel.reset();
        QVERIFY(!deadline.hasExpired());
    }

    void programQuitsWithZeroWhenTheBoardGoes()
    {
        QProcess panel;
        panel.setEnvironment(QProcess::systemEnvironment() << "BOARDSIM_CONTROL=/nonexistent/x");
        panel.start(BOARDSIM_PANEL_EXECUTABLE, QStringList());
        QVERIFY(panel.waitForFinished(5000));
        QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.exitCode(), 0); // boardsim ending is the panel's normal end, not a failure
    }
};

QTEST_MAIN(tst_BoardPanel)
#include "tst_panel.moc"
