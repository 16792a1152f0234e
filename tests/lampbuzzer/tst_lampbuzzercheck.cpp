#include "boardsimclient.h"
#include "groundwork.h"
#include "lampbuzzercheck.h"
#include "qttestsupport.h"

#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <memory>

// Runs inside boardsim, once per board: `--board NAME` names the scenario boardsim
// was started with (default, refuse-29, refuse-132, no-export, no-gpio).
static QString s_board = QStringLiteral("default");

namespace {

// The described paths and lines, copied on purpose: the independent check of the board's own.
const QString Gpio = QStringLiteral("/sys/class/gpio/");
const QList<int> ExportList = {18, 29, 49,  50,  51,  54,  55,  56,  60, 62,
                               63, 65, 111, 112, 113, 114, 115, 116, 117};
const QString Beep = QStringLiteral("gpio128/value 0");
const QStringList IocCheck = {"exec usbswitch", "exec iocboot", "exec iocboot", "exec usbswitch"};

// The start-up writes ("path below /sys/class/gpio bytes") on a board that
// refuses to export `refused`: that line gets no directory to write.
QStringList startupWrites(int refused = -1)
{
    QStringList writes;
    for (int line : ExportList + QList<int>{132}) {
        if (line == 132)
            writes << "gpio18/value 1";
        writes << QStringLiteral("export %1").arg(line);
        writes << (line != refused ? QStringLiteral("gpio%1/direction out").arg(line)
                                   : QStringLiteral("tried gpio%1").arg(line));
    }
    return writes << "gpio129/value 0";
}

QStringList lampWrites(const QString &levels, bool lampLine = true)
{
    QStringList writes;
    for (QChar level : levels) {
        writes << (lampLine ? QStringLiteral("gpio132/value ") + level
                            : QStringLiteral("tried gpio132"));
        writes << QStringLiteral("gpio29/value ") + level;
    }
    return writes;
}

// Only the rows written for the board this run is on become test cases.
void addRow(const char *name, const QString &board, const QString &actions,
            const QStringList &writes)
{
    if (board == s_board)
        QTest::newRow(name) << actions.split(' ', Qt::SkipEmptyParts) << writes;
}

} // namespace

class tst_lampBuzzerCheck : public QObject
{
    Q_OBJECT
    BoardSimClient m_board;

    // Every GPIO write, failed open and tool start since the transcript was cleared, in order; a
    // file opened while `export` is still open is listed as a fault, since the
    // line's directory only appears once QFile flushes the export on close.
    QStringList boardWrites()
    {
        QStringList writes;
        bool exportOpen = false;
        for (const QJsonObject &row : m_board.transcript().value_or(QVector<QJsonObject>())) {
            const QString path = row["path"].toString(), node = path.mid(Gpio.size());
            const QString op = row["op"].toString();
            if (op == "exec")
                writes << "exec " + path;
            if (!path.startsWith(Gpio))
                continue;
            if (op == "open" && node != "export" && exportOpen)
                writes << "opened while export was open: " + node;
            if (node == "export" && (op == "open" || op == "close"))
                exportOpen = op == "open";
            if (op == "write")
                writes << node + ' ' + row["bytes"].toString();
            if (op == "lookup") // an open of a file that is not there
                writes << "tried " + node;
        }
        return writes;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
        Messages::catchAll();
    }
    void windowWritesWhatTheBoardAccepts_data()
    {
        QTest::addColumn<QStringList>("actions"); // none: the process's first page is built
        QTest::addColumn<QStringList>("writes");
        // First start, each text one write without line end: line numbers, each
        // direction after the export is closed, line 18 high, the lamp line, alarm off.
        addRow("first start", "default", "", startupWrites());
        addRow("line 29 refused", "refuse-29", "", startupWrites(29));
        addRow("line 132 refused", "refuse-132", "", startupWrites(132));
        // Nothing exported, so no direction is written, but line 18's level is still
        // tried; the board exported 129 itself.
        addRow("no export file", "no-export", "",
               QVector<QString>(19, "tried export").toList() << "tried gpio18"
                                                             << "tried export"
                                                             << "gpio129/value 0");
        addRow("no gpio", "no-gpio", "", {});
        // On the lamp page the lamp starts off and alternates, lamp line then test line.
        addRow("lamp: clicks and F1", "default", "lamp F1 lamp F1", lampWrites("1010"));
        addRow("lamp line refused", "refuse-132", "lamp lamp lamp", lampWrites("101", false));
        // One "0" per press: no pulse back to "1", no timer.
        addRow("buzzer: clicks and F2", "default", "buzzer F2 buzzer", {Beep, Beep, Beep});
        // dangerLamp leaves the page's state off: the next click still switches on.
        addRow("dangerLamp on", "default", "danger-on lamp", lampWrites("11"));
        addRow("dangerLamp off", "default", "danger-off lamp", lampWrites("01"));
        // Every line is exported already: each export is refused, the rest still written.
        addRow("second start", "default", "lamp restart", lampWrites("1") + startupWrites());
        addRow("ending the program", "default", "lamp end", lampWrites("1")); // lamp stays lit
        // A hidden page's buttons are hidden too, and a hidden button's shortcut is dead;
        // on the IOC/FPGA page the keys start that page's checks.
        addRow("home F1", "default", "onHomeChange F1", {});
        addRow("keyboard F2", "default", "onKeyTestChange F2", {});
        addRow("IOC/FPGA F1", "default", "onIocFpgaCChenge F1", {"exec flash"});
        addRow("IOC/FPGA F2", "default", "onIocFpgaCChenge F2", IocCheck);
    }

    void windowWritesWhatTheBoardAccepts()
    {
        QFETCH(QStringList, actions);
        QFETCH(QStringList, writes);
        if (actions.isEmpty()) { // these rows come first: the board is still fresh
            QVERIFY(m_board.clearTranscript());
            Messages::clear();
            delete new lampBuzzerCheck;
            QCOMPARE(Messages::of(), QStringList()); // the program starts and says nothing
        } else {
            auto window = std::make_unique<groundwork>();
            window->onLampBChange();
            QVERIFY(showActive(window.get()));
            auto *page = window->findChild<lampBuzzerCheck *>();
            QVERIFY(m_board.clearTranscript());
            for (const QString &a : actions) {
                if (a == "lamp" || a == "buzzer")
                    QTest::mouseClick(page->findChild<QPushButton *>(a + "Button"), Qt::LeftButton);
                else if (a.startsWith("danger-"))
                    QVERIFY(QMetaObject::invokeMethod(page, "dangerLamp",
                                                      Q_ARG(bool, a.endsWith("on"))));
                else if (a == "restart") {
                    Messages::clear();
                    lampBuzzerCheck::initialize();
                    QCOMPARE(Messages::of(), QStringList());
                } else if (a == "end")
                    window.reset();
                else if (a.startsWith("on"))
                    QVERIFY(QMetaObject::invokeMethod(window.get(), qPrintable(a)));
                else { // animateClick clicks ~100 ms later; the IOC check blocks 5 s in it
                    QTest::keyClick(window.get(), Qt::Key(QKeySequence(a)[0]));
                    QTest::qWait(300);
                }
            }
            for (auto *tool : window ? window->findChildren<QProcess *>() : QList<QProcess *>())
                QTRY_COMPARE(tool->state(), QProcess::NotRunning); // the FPGA read runs on
        }
        QCOMPARE(boardWrites(), writes);
    }

    void keyBeepStateChangesOnlyWhatItReports()
    {
        if (s_board != "default")
            QSKIP("needs the beep line");
        lampBuzzerCheck page, later;
        QVERIFY(m_board.clearTranscript());
        QVERIFY(QMetaObject::invokeMethod(&page, "setKeyBeepState", Q_ARG(bool, false)));
        QCOMPARE(later.keyBeepState(), false); // class-wide
        QTest::mouseClick(page.findChild<QPushButton *>("buzzerButton"), Qt::LeftButton);
        QCOMPARE(boardWrites(), QStringList{Beep}); // the buzzer does not consult it
        later.setKeyBeepState(true);
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    const int at = args.indexOf("--board");
    if (at > 0 && at + 1 < args.size()) {
        s_board = args.at(at + 1);
        args.erase(args.begin() + at, args.begin() + at + 2);
    }
    tst_lampBuzzerCheck test;
    return QTest::qExec(&test, args);
}

#include "tst_lampbuzzercheck.moc"
