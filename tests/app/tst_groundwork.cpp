#include "groundwork.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

namespace {

// Debug lines of the window, captured so that tests can assert on the
// keyboard test's "progBar" trace.
QStringList s_debugLines;
QtMessageHandler s_previousHandler = nullptr;

void captureDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        s_debugLines << message;
    s_previousHandler(type, context, message);
}

QStringList repeated(const QString &line, int times)
{
    return QVector<QString>(times, line).toList();
}

// The stack's final order: the home page lists the checks in this order.
enum Page
{
    Home,
    Lcd,
    KeyTest,
    LampBuzzer,
    IocFpga
};

} // namespace

class tst_groundwork : public QObject
{
    Q_OBJECT
    groundwork *m_window = nullptr;
    QStackedWidget *m_stack = nullptr;
    QWidget *m_bar = nullptr;
    QLabel *m_keyName = nullptr;
    QProgressBar *m_progress = nullptr;

    QWidget *current() const { return m_stack->currentWidget(); }
    QWidget *page(Page p) const { return m_stack->widget(p); }
    bool barShown() const { return m_bar->isVisible(); }
    void press(Qt::Key key) { QTest::keyClick(m_window, key); }
    void pressClear(Qt::Key second)
    {
        press(Qt::Key_Backspace);
        press(second);
    }
    void goTo(Page p)
    {
        // Soft keys are buttons: their shortcut clicks them ~100 ms later.
        if (current() != page(Home))
            pressClear(Qt::Key_1);
        QCOMPARE(current(), page(Home));
        if (p == Home)
            return;
        press(Qt::Key(Qt::Key_F6 + p));
        QTRY_COMPARE(current(), page(p));
    }

private slots:
    void initTestCase() { s_previousHandler = qInstallMessageHandler(captureDebug); }
    void init()
    {
        m_window = new groundwork;
        m_window->show();
        QApplication::setActiveWindow(m_window);
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        m_stack = m_window->findChild<QStackedWidget *>("stackedWidget");
        m_bar = m_window->findChild<QWidget *>("verticalWidget");
        // The pages reuse the form's generic object names, so look inside the
        // keyboard test's frame.
        auto *frame = m_window->findChild<QWidget *>("keyTest")->findChild<QWidget *>("frame");
        m_keyName = frame->findChild<QLabel *>("label");
        m_progress = frame->findChild<QProgressBar *>("progressBar");
        QVERIFY(m_stack && m_bar && m_keyName && m_progress);
        s_debugLines.clear();
    }
    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
    }

    void startsOnHomeWithVersionAndEmptyTest()
    {
        QCOMPARE(current(), page(Home));
        QVERIFY(barShown());
        QCOMPARE(m_window->findChild<QLabel *>("Version_label")->text(), "Version 0.01.0001");
        QCOMPARE(m_progress->value(), 0); // the form's 24 is replaced
        QCOMPARE(m_keyName->text(), "None");
        // The stack holds the pages in the home page's order of checks.
        QCOMPARE(m_stack->count(), 5);
        QCOMPARE(page(Home)->objectName(), "homeWidget");
        QCOMPARE(page(Lcd)->metaObject()->className(), "lcdcheck");
        QCOMPARE(page(KeyTest)->objectName(), "keyTest");
        QCOMPARE(page(LampBuzzer)->metaObject()->className(), "lampBuzzerCheck");
        QCOMPARE(page(IocFpga)->metaObject()->className(), "iocFpgaCheck");
    }

    void softKeysSwitchPagesAndTheBar_data()
    {
        QTest::addColumn<bool>("byClick");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("target");
        QTest::addColumn<bool>("barShown");
        const struct
        {
            const char *button;
            Page target;
            bool bar;
        } keys[] = {{"homeButton", Home, true},
                    {"LcdButton", Lcd, false},
                    {"KeyboardButton", KeyTest, false},
                    {"lampBuzzerButton", LampBuzzer, true},
                    {"iocFpgaCheckBotton", IocFpga, true}};
        // Each soft key by its F key (F6 + index) and by a click on its button;
        // the bar is hidden where the page needs the whole screen or every key.
        for (const auto &k : keys) {
            QTest::addRow("F%d", 6 + k.target) << false << k.button << int(k.target) << k.bar;
            QTest::addRow("click %s", k.button) << true << k.button << int(k.target) << k.bar;
        }
    }
    void softKeysSwitchPagesAndTheBar()
    {
        QFETCH(bool, byClick);
        QFETCH(QString, button);
        QFETCH(int, target);
        QFETCH(bool, barShown);
        // Start away from home where the target is home, so the switch is seen.
        if (target == Home)
            goTo(LampBuzzer);
        if (byClick)
            QTest::mouseClick(m_window->findChild<QPushButton *>(button), Qt::LeftButton);
        else
            press(Qt::Key(Qt::Key_F6 + target));
        QTRY_COMPARE(current(), page(Page(target)));
        QCOMPARE(this->barShown(), barShown);
        QCOMPARE(m_progress->value(), 0); // page switches never touch the test
    }

    // Clear+Stop resets the test where it is pressed; clear+1 then returns home from there.
    void clearStopResetsAndClearOneGoesHome_data()
    {
        QTest::addColumn<int>("from");
        QTest::newRow("home") << int(Home);
        QTest::newRow("LCD (bar hidden)") << int(Lcd);
        QTest::newRow("keyboard test (bar hidden)") << int(KeyTest);
        QTest::newRow("lamp/buzzer") << int(LampBuzzer);
        QTest::newRow("IOC/FPGA") << int(IocFpga);
    }
    void clearStopResetsAndClearOneGoesHome()
    {
        QFETCH(int, from);
        goTo(KeyTest);
        press(Qt::Key_5);
        press(Qt::Key_6);
        QCOMPARE(m_progress->value(), 2);
        goTo(Page(from));
        const bool barBefore = barShown();
        const QString nameBefore = m_keyName->text();
        pressClear(Qt::Key_Pause);
        QCOMPARE(m_progress->value(), 0);
        QCOMPARE(current(), page(Page(from)));
        QCOMPARE(barShown(), barBefore);
        QCOMPARE(m_keyName->text(), nameBefore); // "Stop" is not shown either
        s_debugLines.clear();
        pressClear(Qt::Key_1);
        QCOMPARE(current(), page(Home));
        QVERIFY(barShown());
        QCOMPARE(m_progress->value(), 0); // neither key is counted on the way out
        QVERIFY(s_debugLines.filter("progBar").isEmpty());
        // The reset really cleared the marks: the same key counts again.
        goTo(KeyTest);
        press(Qt::Key_5);
        QCOMPARE(m_progress->value(), 1);
    }

    void all31KeysFillTheBarAndRepeatsAndUnknownKeysDoNot()
    {
        // The panel's keys with the legend the operator must see for each: the described
        // table, copied on purpose so that a fault in the board's key table shows here.
        const QList<Qt::Key> keys = {
            Qt::Key_F1,       Qt::Key_F2,         Qt::Key_F3,    Qt::Key_F4,
            Qt::Key_F5,       Qt::Key_F6,         Qt::Key_F7,    Qt::Key_F8,
            Qt::Key_F9,       Qt::Key_F10,        Qt::Key_0,     Qt::Key_1,
            Qt::Key_2,        Qt::Key_3,          Qt::Key_4,     Qt::Key_5,
            Qt::Key_6,        Qt::Key_7,          Qt::Key_8,     Qt::Key_9,
            Qt::Key_Period,   Qt::Key_Left,       Qt::Key_Right, Qt::Key_Escape,
            Qt::Key_Return,   Qt::Key_ScrollLock, Qt::Key_F12,   Qt::Key_VolumeDown,
            Qt::Key_VolumeUp, Qt::Key_VolumeMute, Qt::Key_Pause};
        const QStringList legends = QString("F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 0 1 2 3 4 5 6 7 8 9 . "
                                            "Left Right Escape Enter Home Memory Auto System "
                                            "Start Stop")
                                        .split(' ');
        QCOMPARE(keys.size(), 31);
        QCOMPARE(legends.size(), 31);
        goTo(KeyTest);
        // Keys the panel has not are neither shown nor taken for F1, which still counts below.
        for (Qt::Key unknown : {Qt::Key_F11, Qt::Key_Up, Qt::Key_Enter, Qt::Key_Q})
            press(unknown);
        QCOMPARE(m_keyName->text(), "None");
        QCOMPARE(m_progress->value(), 0);
        s_debugLines.clear();
        // Reverse order: the count must not depend on the table's order.
        for (int i = 30; i >= 0; --i) {
            press(keys[i]);
            QCOMPARE(m_keyName->text(), legends[i]);
            QCOMPARE(m_progress->value(), 31 - i);
        }
        QCOMPARE(m_progress->value(), m_progress->maximum());
        QCOMPARE(current(), page(KeyTest)); // the hidden bar's soft keys took nothing
        QCOMPARE(s_debugLines, repeated("progBar 1", 31));

        s_debugLines.clear();
        press(Qt::Key_5);
        press(Qt::Key_F3);
        QKeyEvent autoRepeat(QEvent::KeyPress, Qt::Key_7, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(m_window, &autoRepeat);
        QCOMPARE(m_progress->value(), 31);
        QCOMPARE(m_keyName->text(), "7");
        QCOMPARE(s_debugLines, repeated("progBar 0", 3));
    }

    void keyOnAnotherPageChangesTheNameButNotTheBar()
    {
        goTo(KeyTest);
        press(Qt::Key_1);
        goTo(LampBuzzer);
        s_debugLines.clear();
        press(Qt::Key_8); // no button of this page takes it
        QCOMPARE(m_keyName->text(), "8");
        QCOMPARE(m_progress->value(), 1);
        QVERIFY(s_debugLines.filter("progBar").isEmpty());
        goTo(KeyTest);
        QCOMPARE(m_keyName->text(), "8");
        press(Qt::Key_8); // not counted elsewhere, so it still counts here
        QCOMPARE(m_progress->value(), 2);
    }

    void clearKeyAndReleasesAreNeverShownOrCounted()
    {
        goTo(KeyTest);
        QTest::keyRelease(m_window, Qt::Key_5);
        press(Qt::Key_Backspace);
        QCOMPARE(m_keyName->text(), "None");
        QCOMPARE(m_progress->value(), 0);
        // Qt's shortcut map also takes the key after clear when it completes no
        // sequence; the key after that reaches the test again.
        press(Qt::Key_5);
        QCOMPARE(m_keyName->text(), "None");
        QCOMPARE(m_progress->value(), 0);
        press(Qt::Key_5);
        QCOMPARE(m_keyName->text(), "5");
        QCOMPARE(m_progress->value(), 1);
    }

    void lcdShortcutsAreDeadWhileAnotherPageIsShown_data()
    {
        QTest::addColumn<int>("shown");
        QTest::newRow("home") << int(Home);
        QTest::newRow("keyboard test") << int(KeyTest);
        QTest::newRow("lamp/buzzer (its own F1)") << int(LampBuzzer);
    }
    void lcdShortcutsAreDeadWhileAnotherPageIsShown()
    {
        QFETCH(int, shown);
        QWidget *lcd = page(Lcd);
        auto *color = lcd->findChild<QLabel *>("color");
        const QString colorBefore = color->styleSheet();
        goTo(Page(shown));
        pressClear(Qt::Key_4);
        press(Qt::Key_F1);
        QTest::qWait(300); // longer than a shortcut's animated click
        QCOMPARE(color->styleSheet(), colorBefore);
        QVERIFY(lcd->findChild<QLabel *>("label")->isVisibleTo(lcd));
        QCOMPARE(lcd->findChild<QPushButton *>("pushButton_7")->geometry(),
                 QRect(670, 90, 130, 60));
        QCOMPARE(current(), page(Page(shown)));
    }
};

QTEST_MAIN(tst_groundwork)
#include "tst_groundwork.moc"
