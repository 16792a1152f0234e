#include "boardsimclient.h"
#include "groundwork.h"
#include "lampbuzzercheck.h"

#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <memory>

// Runs inside boardsim. `--board NAME` names the scenario boardsim was started
// with (default, refuse-29, refuse-132, no-export, no-gpio); rows written for
// another board are skipped.
static QString s_board = QStringLiteral("default");

namespace {

const QString Gpio = QStringLiteral("/sys/class/gpio/");
const QList<int> ExportList = {18, 29, 49,  50,  51,  54,  55,  56,  60, 62,
                               63, 65, 111, 112, 113, 114, 115, 116, 117};

QStringList s_messages;
void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    s_messages << message;
}

// The start-up writes, "path below /sys/class/gpio bytes", on a board that
// refuses to export `refused` (its directory never appears).
QStringList startupWrites(int refused = -1)
{
    QStringList writes;
    for (int line : ExportList) {
        writes << QStringLiteral("export %1").arg(line);
        if (line != refused)
            writes << QStringLiteral("gpio%1/direction out").arg(line);
    }
    writes << "gpio18/value 1"
           << "export 132";
    if (refused != 132)
        writes << "gpio132/direction out";
    return writes << "gpio129/value 0";
}

QStringList lampWrites(const QString &levels, bool lampLine = true)
{
    QStringList writes;
    for (QChar level : levels) {
        if (lampLine)
            writes << QStringLiteral("gpio132/value ") + level;
        writes << QStringLiteral("gpio29/value ") + level;
    }
    return writes;
}

} // namespace

class tst_lampBuzzerCheck : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void startupWritesWhatTheBoardAccepts_data();
    void startupWritesWhatTheBoardAccepts();
    void secondStartDrivesTheLinesAgain_data();
    void secondStartDrivesTheLinesAgain();
    void formPlacesBothButtonsAtTheRightEdge_data();
    void formPlacesBothButtonsAtTheRightEdge();
    void lampAlternatesOnEveryPress_data();
    void lampAlternatesOnEveryPress();
    void buzzerWritesOneZeroPerPress_data();
    void buzzerWritesOneZeroPerPress();
    void dangerLampFromOutsideLeavesThePageState_data();
    void dangerLampFromOutsideLeavesThePageState();
    void keyBeepStateChangesOnlyWhatItReports();
    void softKeysReachOnlyTheShownPage_data();
    void softKeysReachOnlyTheShownPage();
    void endingTheProgramKeepsTheLampLevels_data();
    void endingTheProgramKeepsTheLampLevels();

private:
    bool onBoard(const char *board);
    QStringList gpioWrites();
    void press(QWidget *window, QPushButton *button, const QString &how);

    BoardSimClient m_board;
};

void tst_lampBuzzerCheck::initTestCase()
{
    QVERIFY2(m_board.isAvailable(), qPrintable(m_board.lastError()));
}

void tst_lampBuzzerCheck::init()
{
    s_messages.clear();
}

bool tst_lampBuzzerCheck::onBoard(const char *board)
{
    return s_board == QLatin1String(board);
}

// Every GPIO write since the transcript was last cleared, in order, checked
// on the way for the order the kernel needs: no file opened while the export
// file is still open, since the line's directory is only there once the
// export has been written, which happens when QFile flushes on close.
QStringList tst_lampBuzzerCheck::gpioWrites()
{
    QStringList writes;
    bool exportOpen = false;
    for (const QJsonObject &row : m_board.transcript()) {
        const QString path = row["path"].toString();
        const QString op = row["op"].toString();
        if (!path.startsWith(Gpio))
            continue;
        const QString node = path.mid(Gpio.size());
        if (op == "open" && node != "export" && exportOpen)
            writes << "opened while export was open: " + node;
        if (node == "export" && (op == "open" || op == "close"))
            exportOpen = op == "open";
        if (op == "write")
            writes << node + ' ' + row["bytes"].toString();
    }
    return writes;
}

void tst_lampBuzzerCheck::press(QWidget *window, QPushButton *button, const QString &how)
{
    if (how == "click") {
        QTest::mouseClick(button, Qt::LeftButton);
        return;
    }
    // A shortcut clicks through animateClick, which emits clicked ~100 ms later.
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::keyClick(window, Qt::Key(QKeySequence(how)[0]));
    QTRY_COMPARE(clicked.count(), 1);
}

void tst_lampBuzzerCheck::startupWritesWhatTheBoardAccepts_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QStringList>("writes");
    // Each line's number, then its direction once the number is in; then line
    // 18 high, the lamp line, and the alarm sound off.
    QTest::newRow("first start") << "default" << startupWrites();
    // The refused line gets no directory, so there is no direction to write;
    // the sequence goes on with the next line.
    QTest::newRow("line 29 refused") << "refuse-29" << startupWrites(29);
    QTest::newRow("line 132 refused") << "refuse-132" << startupWrites(132);
    // No line gets exported: line 18 has no value file, but the board exported
    // the alarm sound line itself.
    QTest::newRow("no export file") << "no-export" << QStringList{"gpio129/value 0"};
    QTest::newRow("no gpio") << "no-gpio" << QStringList();
}

void tst_lampBuzzerCheck::startupWritesWhatTheBoardAccepts()
{
    QFETCH(QString, board);
    QFETCH(QStringList, writes);
    if (board != s_board)
        QSKIP("written for another board");
    // Must be the first page of this process, so that the board is fresh.
    QVERIFY(m_board.clearTranscript());
    qInstallMessageHandler(collect);
    {
        lampBuzzerCheck page;
    }
    qInstallMessageHandler(nullptr);
    QCOMPARE(gpioWrites(), writes);
    QCOMPARE(s_messages, QStringList());
}

void tst_lampBuzzerCheck::secondStartDrivesTheLinesAgain_data()
{
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("value");
    // The lamp is on when the program starts again; "out" drives it low, as
    // the new page's lamp state "off" expects.
    QTest::newRow("lamp") << 132 << "0";
    QTest::newRow("danger test") << 29 << "0";
    QTest::newRow("line 18") << 18 << "1";
    QTest::newRow("last of the list") << 117 << "0";
    QTest::newRow("alarm sound") << 129 << "0";
}

void tst_lampBuzzerCheck::secondStartDrivesTheLinesAgain()
{
    QFETCH(int, line);
    QFETCH(QString, value);
    if (!onBoard("default"))
        QSKIP("needs a board that exports every line");
    lampBuzzerCheck page;
    QTest::mouseClick(page.findChild<QPushButton *>("lampButton"), Qt::LeftButton);
    QCOMPARE(m_board.gpioLine(132).value, QString("1"));

    QVERIFY(m_board.clearTranscript());
    qInstallMessageHandler(collect);
    lampBuzzerCheck::initialize();
    qInstallMessageHandler(nullptr);
    QCOMPARE(gpioWrites(), startupWrites());
    // Every line is exported already: the kernel refuses each export.
    for (const QJsonObject &row : m_board.transcript()) {
        if (row["op"] == "write")
            QCOMPARE(row["result"].toInt() < 0, row["path"].toString().endsWith("/export"));
    }
    QCOMPARE(s_messages, QStringList());
    QCOMPARE(m_board.gpioLine(line).value, value);
}

void tst_lampBuzzerCheck::formPlacesBothButtonsAtTheRightEdge_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QKeySequence>("key");
    QTest::newRow("lamp") << "lampButton" << QRect(670, 90, 130, 60) << "Lamp"
                          << QKeySequence(Qt::Key_F1);
    // The caption is spelt so on the panel.
    QTest::newRow("buzzer") << "buzzerButton" << QRect(670, 155, 130, 60) << "Buzzser"
                            << QKeySequence(Qt::Key_F2);
}

void tst_lampBuzzerCheck::formPlacesBothButtonsAtTheRightEdge()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QKeySequence, key);
    lampBuzzerCheck page;
    QCOMPARE(page.size(), QSize(800, 480));
    auto *button = page.findChild<QPushButton *>(name);
    QVERIFY(button);
    QCOMPARE(button->geometry(), geometry);
    QCOMPARE(button->text(), text);
    QCOMPARE(button->shortcut(), key);
    QCOMPARE(button->font().family(), QString("DejaVu Sans"));
    QCOMPARE(button->styleSheet(), QString("background-color: rgb(255, 255, 255);"));
    QVERIFY(!button->isCheckable());
}

void tst_lampBuzzerCheck::lampAlternatesOnEveryPress_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("presses");
    QTest::addColumn<QStringList>("writes");
    // The lamp starts off, so the first press switches it on.
    QTest::newRow("one click") << "default"
                               << "click" << 1 << lampWrites("1");
    QTest::newRow("two clicks") << "default"
                                << "click" << 2 << lampWrites("10");
    QTest::newRow("three clicks") << "default"
                                  << "click" << 3 << lampWrites("101");
    QTest::newRow("F1 twice") << "default"
                              << "F1" << 2 << lampWrites("10");
    // Without the lamp's own line the state still flips: the test line shows it.
    QTest::newRow("lamp line missing") << "refuse-132"
                                       << "click" << 3 << lampWrites("101", false);
}

void tst_lampBuzzerCheck::lampAlternatesOnEveryPress()
{
    QFETCH(QString, board);
    QFETCH(QString, how);
    QFETCH(int, presses);
    QFETCH(QStringList, writes);
    if (board != s_board)
        QSKIP("written for another board");
    lampBuzzerCheck page;
    page.show();
    QApplication::setActiveWindow(&page);
    QVERIFY(QTest::qWaitForWindowActive(&page));
    QVERIFY(m_board.clearTranscript());
    for (int i = 0; i < presses; ++i)
        press(&page, page.findChild<QPushButton *>("lampButton"), how);
    QCOMPARE(gpioWrites(), writes);
    QCOMPARE(m_board.gpioLine(29).value, presses % 2 ? QString("1") : QString("0"));
}

void tst_lampBuzzerCheck::buzzerWritesOneZeroPerPress_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("presses");
    // No pulse back to "1", no timer: the board sounds on the write itself.
    QTest::newRow("click") << "click" << 1;
    QTest::newRow("click twice") << "click" << 2;
    QTest::newRow("F2") << "F2" << 1;
}

void tst_lampBuzzerCheck::buzzerWritesOneZeroPerPress()
{
    QFETCH(QString, how);
    QFETCH(int, presses);
    if (!onBoard("default"))
        QSKIP("needs the beep line");
    lampBuzzerCheck page;
    page.show();
    QApplication::setActiveWindow(&page);
    QVERIFY(QTest::qWaitForWindowActive(&page));
    QVERIFY(m_board.clearTranscript());
    for (int i = 0; i < presses; ++i)
        press(&page, page.findChild<QPushButton *>("buzzerButton"), how);
    QTest::qWait(200); // anything written late would show now
    QStringList beeps;
    for (int i = 0; i < presses; ++i)
        beeps << "gpio128/value 0";
    QCOMPARE(gpioWrites(), beeps);
}

void tst_lampBuzzerCheck::dangerLampFromOutsideLeavesThePageState_data()
{
    QTest::addColumn<bool>("enable");
    QTest::addColumn<QStringList>("writes");
    // Either way the page still believes the lamp is off: the click turns it on.
    QTest::newRow("on") << true << lampWrites("11");
    QTest::newRow("off") << false << lampWrites("01");
}

void tst_lampBuzzerCheck::dangerLampFromOutsideLeavesThePageState()
{
    QFETCH(bool, enable);
    QFETCH(QStringList, writes);
    if (!onBoard("default"))
        QSKIP("needs the lamp lines");
    lampBuzzerCheck page;
    QVERIFY(m_board.clearTranscript());
    QVERIFY(QMetaObject::invokeMethod(&page, "dangerLamp", Q_ARG(bool, enable)));
    QTest::mouseClick(page.findChild<QPushButton *>("lampButton"), Qt::LeftButton);
    QCOMPARE(gpioWrites(), writes);
}

void tst_lampBuzzerCheck::keyBeepStateChangesOnlyWhatItReports()
{
    if (!onBoard("default"))
        QSKIP("needs the beep line");
    lampBuzzerCheck page;
    bool state = true;
    QVERIFY(m_board.clearTranscript());
    QVERIFY(QMetaObject::invokeMethod(&page, "setKeyBeepState", Q_ARG(bool, false)));
    QVERIFY(QMetaObject::invokeMethod(&page, "keyBeepState", Q_RETURN_ARG(bool, state)));
    QCOMPARE(state, false);
    QCOMPARE(gpioWrites(), QStringList());
    // The state is not consulted by the buzzer, which still writes.
    QTest::mouseClick(page.findChild<QPushButton *>("buzzerButton"), Qt::LeftButton);
    QCOMPARE(gpioWrites(), QStringList{"gpio128/value 0"});
    // Class-wide: a page built later reports it too.
    lampBuzzerCheck later;
    QCOMPARE(later.keyBeepState(), false);
    later.setKeyBeepState(true);
    QCOMPARE(page.keyBeepState(), true);
}

void tst_lampBuzzerCheck::softKeysReachOnlyTheShownPage_data()
{
    QTest::addColumn<QString>("showPage");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("writes");
    // The page's buttons are hidden with it, and a hidden button's shortcut is dead.
    QTest::newRow("home F1") << "onHomeChange"
                             << "F1"
                             << "" << QStringList();
    QTest::newRow("home F2") << "onHomeChange"
                             << "F2"
                             << "" << QStringList();
    QTest::newRow("LCD F2") << "onLCDCheckChange"
                            << "F2"
                            << "" << QStringList();
    QTest::newRow("keyboard F1") << "onKeyTestChange"
                                 << "F1"
                                 << "" << QStringList();
    QTest::newRow("keyboard F2") << "onKeyTestChange"
                                 << "F2"
                                 << "" << QStringList();
    // The IOC/FPGA page's buttons take the same keys, and write no GPIO.
    QTest::newRow("IOC/FPGA F1") << "onIocFpgaCChenge"
                                 << "F1"
                                 << "fpgaCheckButton" << QStringList();
    QTest::newRow("IOC/FPGA F2") << "onIocFpgaCChenge"
                                 << "F2"
                                 << "iocCheckButton" << QStringList();
    // The page itself, so that the rows above are not passing for nothing.
    QTest::newRow("lamp page F1") << "onLampBChange"
                                  << "F1"
                                  << "lampButton" << lampWrites("1");
    QTest::newRow("lamp page F2") << "onLampBChange"
                                  << "F2"
                                  << "buzzerButton" << QStringList{"gpio128/value 0"};
}

void tst_lampBuzzerCheck::softKeysReachOnlyTheShownPage()
{
    QFETCH(QString, showPage);
    QFETCH(QString, key);
    QFETCH(QString, button);
    QFETCH(QStringList, writes);
    if (!onBoard("default"))
        QSKIP("needs the lamp lines");
    groundwork window;
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(QMetaObject::invokeMethod(&window, qPrintable(showPage)));
    QVERIFY(m_board.clearTranscript());
    if (button.isEmpty()) {
        QTest::keyClick(&window, Qt::Key(QKeySequence(key)[0]));
        QTest::qWait(300); // well past animateClick's 100 ms
    } else {
        // The IOC check's dialog counts down 5 s inside the click.
        auto *target = window.findChild<QPushButton *>(button);
        QVERIFY(target);
        QSignalSpy clicked(target, &QAbstractButton::clicked);
        QTest::keyClick(&window, Qt::Key(QKeySequence(key)[0]));
        QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 10000);
        // The FPGA check's tool runs on in the background; let it end first.
        for (auto *tool : window.findChildren<QProcess *>())
            QTRY_COMPARE(tool->state(), QProcess::NotRunning);
    }
    QCOMPARE(gpioWrites(), writes);
}

void tst_lampBuzzerCheck::endingTheProgramKeepsTheLampLevels_data()
{
    QTest::addColumn<int>("presses");
    QTest::addColumn<QString>("level");
    QTest::newRow("left on") << 1 << "1";
    QTest::newRow("left off") << 2 << "0";
}

void tst_lampBuzzerCheck::endingTheProgramKeepsTheLampLevels()
{
    QFETCH(int, presses);
    QFETCH(QString, level);
    if (!onBoard("default"))
        QSKIP("needs the lamp lines");
    auto window = std::make_unique<groundwork>();
    window->onLampBChange();
    for (int i = 0; i < presses; ++i)
        QTest::mouseClick(window->findChild<QPushButton *>("lampButton"), Qt::LeftButton);
    QVERIFY(m_board.clearTranscript());
    window.reset();
    QCOMPARE(gpioWrites(), QStringList());
    QCOMPARE(m_board.gpioLine(132).value, level);
    QCOMPARE(m_board.gpioLine(29).value, level);
}

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
