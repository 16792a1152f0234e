// One scenario through BoardSimClient, the panel's client, against both boards:
// the simulated board (boardsim, with the check mode started here as its unit
// starts it) and the virtual board (the guest agent of scripts/vm.sh, behind
// build/vm/run/control.sock, with the installed check mode under systemd).
// Every step expects the same outcome from both, except where a command cannot
// mean the same on a real kernel and the agent says so.
//   BOARDCONTROL_TARGET=boardsim|vm tst_boardcontrol

#include "boardfacts.h"
#include "boardsimclient.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QProcess>
#include <QtTest>

#include <functional>

namespace {

struct Target
{
    const char *name;
    // How long the check mode may take to take a key: a few seconds on the
    // simulated board, minutes from a cold boot under emulation.
    int readyMs;
};
const Target targets[] = {{"boardsim", 60000}, {"vm", 600000}};

const Target *targetFromEnvironment()
{
    const QByteArray name = qgetenv("BOARDCONTROL_TARGET");
    for (const Target &t : targets) {
        if (name == t.name)
            return &t;
    }
    return nullptr;
}

QString joined(QStringList words)
{
    words.sort();
    return words.join(' ');
}

// The first `exec` of `tool` in the transcript from entry `from` on.
std::optional<QJsonObject> execOf(BoardSimClient &board, int from, const QString &tool)
{
    const auto entries = board.transcript(from);
    for (const QJsonObject &e : entries.value_or(QVector<QJsonObject>())) {
        if (e.value("op").toString() == "exec" && e.value("path").toString() == tool)
            return e;
    }
    return std::nullopt;
}

} // namespace

using Step = std::function<QString(BoardSimClient &)>;
Q_DECLARE_METATYPE(Step)

class TestBoardControl : public QObject
{
    Q_OBJECT
    const Target *m_target = targetFromEnvironment();
    BoardSimClient m_board;
    QProcess m_checkMode;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_target, "BOARDCONTROL_TARGET names no board (boardsim or vm)");
        // On the virtual board systemd runs the installed check mode; on the
        // simulated one it is started here, as checkmode.service would start it.
        if (QByteArray(m_target->name) == "boardsim") {
            m_checkMode.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            // Qt's vnc platform in place of linuxfb; port 0: any free one.
            m_checkMode.start("bash", {AS_UNIT_SCRIPT, CHECKMODE_UNIT_FILE,
                                       CHECKMODE_ENVIRONMENT_FILE, CHECKMODE_EXECUTABLE, "0"});
            QVERIFY(m_checkMode.waitForStarted());
        }
        // The agent answers once the guest has booted: until then the relay
        // holds the request.
        QDeadlineTimer deadline(m_target->readyMs);
        m_board.setReplyTimeout(30000);
        while (!m_board.isAvailable() && !deadline.hasExpired())
            QTest::qWait(1000);
        QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
    }
    void cleanupTestCase()
    {
        if (m_checkMode.state() != QProcess::NotRunning) {
            m_checkMode.terminate();
            m_checkMode.waitForFinished(10000);
        }
    }

    void sameOutcome_data()
    {
        QTest::addColumn<Step>("step");
        QTest::addColumn<QString>("onBoardsim");
        QTest::addColumn<QString>("onVm");

        auto same = [](const char *name, const Step &step, const QString &outcome) {
            QTest::newRow(name) << step << outcome << outcome;
        };
        same(
            "ping", [](BoardSimClient &b) { return b.isAvailable() ? "yes" : b.lastError(); },
            "yes");
        // F10 opens the IOC/FPGA page from any page with the soft-key bar, F1
        // there reads the flash: the key reached the program when its tool call
        // is in the transcript. clear + 1 first, as from any page; tried again
        // while the program is still starting. First of the steps: the state's
        // rows below want the program's GPIO start-up done.
        same(
            "keys by name reach the program: F10 F1 calls flash",
            [](BoardSimClient &b) {
                const int from = b.transcriptCount().value_or(0);
                std::optional<QJsonObject> call;
                for (int i = 0; i < 20 && !call; ++i) {
                    // A key at a time, as fingers press them: the page a key
                    // opens takes the next one once it is shown.
                    for (const char *key : {"clear", "1", "F10", "F1"}) {
                        b.tapKey(key);
                        QTest::qWait(700);
                    }
                    QDeadlineTimer wait(5000);
                    while (!(call = execOf(b, from, "flash")) && !wait.hasExpired())
                        b.waitForTranscript(b.transcriptCount().value_or(from), 500);
                }
                if (!call)
                    return QString("no flash call: ") + b.lastError();
                // Home again for whatever runs next on the board.
                QTest::qWait(2000);
                b.tapKey("clear");
                b.tapKey("1");
                QStringList args;
                for (const QJsonValue a : call->value("args").toArray())
                    args << a.toString();
                return joined(call->keys()) + " | " + args.join(' ');
            },
            "args op path pid t | -o rdid");
        same(
            "facts are the board's",
            [](BoardSimClient &b) {
                const auto facts = b.facts();
                if (!facts)
                    return b.lastError();
                QStringList got, want;
                for (auto it = facts->begin(); it != facts->end(); ++it)
                    got << it.key() + '=' + it.value();
                for (const std::string &line : board::factLines())
                    want << QString::fromStdString(line);
                return joined(got) == joined(want) ? QString("same") : joined(got);
            },
            "same");
        // There and back: the encoder ends where it was, for whatever runs
        // next on the board.
        for (int steps : {7, -7}) {
            same(
                qPrintable(QString("turn %1 moves the position by %1").arg(steps)),
                [steps](BoardSimClient &b) {
                    const auto before = b.position();
                    if (!before || !b.turn(steps))
                        return b.lastError();
                    const auto after = b.position();
                    return after ? QString::number(*after - *before) : b.lastError();
                },
                QString::number(steps));
        }
        same(
            "state has the panel's keys",
            [](BoardSimClient &b) {
                const auto state = b.state();
                if (!state)
                    return b.lastError();
                const QJsonObject line = state->value("gpio").toObject().value("132").toObject();
                // "booted" is the simulated IOC's: the guest's iocboot plays
                // no IOC, so the agent has nothing to report under it.
                const QJsonObject usb = state->value("usb").toObject();
                QStringList has;
                for (const bool kind :
                     {state->value("position").isDouble(), state->value("scenario").isObject(),
                      state->value("transcriptCount").isDouble()})
                    has << (kind ? "yes" : "no");
                return has.join(' ') + " | gpio 132: " + joined(line.keys()) +
                       " | usb: " + joined(usb.keys()).remove("booted ");
            },
            "yes yes yes | gpio 132: direction value | usb: mounted switched");
        same(
            "a scenario value set is read back",
            [](BoardSimClient &b) {
                const auto old = b.scenario("ioc-delay-ms");
                if (!old || !b.setScenario("ioc-delay-ms", "1500"))
                    return b.lastError();
                QString now = b.scenario("ioc-delay-ms").value_or(b.lastError());
                b.setScenario("ioc-delay-ms", *old);
                return now;
            },
            "1500");
        same(
            "a word the scenario lacks is refused",
            [](BoardSimClient &b) {
                return b.setScenario("ioc", "elsewhere") ? QString("taken") : b.lastError();
            },
            "invalid value 'elsewhere' for ioc");
        same(
            "a key the panel lacks is refused",
            [](BoardSimClient &b) { return b.tapKey("Menu") ? QString("taken") : b.lastError(); },
            "the panel has no key 'Menu'");
        // The simulator's handles on the encoder that a real kernel's evdev
        // does not have: the agent refuses them by name and says why. Each is
        // asked for what leaves the simulated board as it is.
        const std::pair<const char *, std::function<bool(BoardSimClient &)>> simulatorOnly[] = {
            {"set-position",
             [](BoardSimClient &b) {
                 const auto p = b.position();
                 return p && b.setPosition(*p);
             }},
            {"pending",
             [](BoardSimClient &b) {
                 return b.pendingRecords().has_value();
             }},
            {"ioctl-fails",
             [](BoardSimClient &b) {
                 return b.setIoctlFails(false);
             }},
            {"gone",
             [](BoardSimClient &b) {
                 return b.setDeviceGone(false);
             }},
        };
        for (const auto &[name, asked] : simulatorOnly) {
            QTest::newRow(qPrintable(QString(name) + " only on the simulated board"))
                << Step([asked = asked](BoardSimClient &b) {
                       return asked(b) ? QString("done") : b.lastError().section(':', 0, 1);
                   })
                << "done" << QString(name) + ": not on the virtual board";
        }
    }
    void sameOutcome()
    {
        QFETCH(Step, step);
        QFETCH(QString, onBoardsim);
        QFETCH(QString, onVm);
        QCOMPARE(step(m_board), QByteArray(m_target->name) == "vm" ? onVm : onBoardsim);
    }
};

QTEST_GUILESS_MAIN(TestBoardControl)
#include "tst_boardcontrol.moc"
