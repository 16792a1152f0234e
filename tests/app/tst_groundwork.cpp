#include "groundwork.h"
#include "qttestsupport.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

namespace {

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
    void goTo(Page p)
    {
        // Soft keys are buttons: their shortcut clicks them ~100 ms later.
        if (current() != page(Home))
            QTest::keySequence(m_window, QKeySequence(Qt::Key_Backspace, Qt::Key_1));
        QCOMPARE(current(), page(Home));
        if (p == Home)
            return;
        press(Qt::Key(Qt::Key_F6 + p));
        QTRY_COMPARE(current(), page(p));
    }

private slots:
    void initTestCase() { Messages::catchAll(); }
    void init()
    {
        m_window = new groundwork;
        QVERIFY(showActive(m_window));
        m_stack = m_window->findChild<QStackedWidget *>("stackedWidget");
        m_bar = m_window->findChild<QWidget *>("verticalWidget");
        // The pages reuse the form's generic object names, so look inside the
        // keyboard test's frame.
        auto *frame = m_window->findChild<QWidget *>("keyTest")->findChild<QWidget *>("frame");
        m_keyName = frame->findChild<QLabel *>("label");
        m_progress = frame->findChild<QProgressBar *>("progressBar");
        QVERIFY(m_stack && m_bar && m_keyName && m_progress);
        Messages::clear();
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
        QStringList pages;
        for (int i = 0; i < m_stack->count(); ++i)
            pages << page(Page(i))->objectName() + ':' + page(Page(i))->metaObject()->className();
        QCOMPARE(pages,
                 QStringList({"homeWidget:QWidget", "lcdcheck:lcdcheck", "keyTest:QWidget",
                              "lampBuzzerCheck:lampBuzzerCheck", "iocFpgaCheck:iocFpgaCheck"}));
    }

    void softKeysSwitchPagesAndTheBar_data()
    {
        QTest::addColumn<bool>("byClick");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("target");
        QTest::addColumn<bool>("barShown");
        const char *buttons[] = {"homeButton", "LcdButton", "KeyboardButton", "lampBuzzerButton",
                                 "iocFpgaCheckBotton"};
        // Each soft key by its F key (F6 + index) and by a click on its button;
        // the bar is hidden where the page needs the whole screen or every key.
        for (int p = Home; p <= IocFpga; ++p) {
            const bool bar = p != Lcd && p != KeyTest;
            QTest::addRow("F%d", 6 + p) << false << buttons[p] << p << bar;
            QTest::addRow("click %s", buttons[p]) << true << buttons[p] << p << bar;
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

    // A script of keys and checks: "@P" goes to page P as the operator would, "#P" checks that
    // P is shown with its bar or without; "=NAME/COUNT" checks the keyboard test's name and bar,
    // "%" the LCD page; "~K" releases K, "*K" is an autorepeat of K, any other word presses K.
    void keysAreNamedAndCountedOnlyAsThePanelsOwn_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("counted"); // the "progBar" debug lines, in order
        const char *rows[][3] = {
            // Shown anywhere, counted only on the keyboard test, and so still counted there.
            {"key on another page", "@2 1 @3 8 =8/1 @2 =8/1 8 =8/2", "1 1"},
            // Qt's shortcut map also takes the key after clear when it completes no sequence.
            {"clear and releases", "@2 ~5 Backspace =None/0 5 =None/0 5 =5/1", "1"},
            // Keys the panel has not are neither shown nor taken for F1.
            {"unknown keys", "@2 F11 Up Enter Q =None/0 F1 =F1/1", "1"},
            {"repeats", "@2 5 F3 7 5 F3 *7 =7/3", "1 1 1 0 0 0"},
            // The LCD page's keys are dead while another page is shown, its F1 included.
            {"LCD keys on home", "@0 Backspace 4 F1 % #0", ""},
            {"LCD keys on the keyboard test", "@2 Backspace 4 F1 % #2", "1"},
            {"LCD keys on lamp/buzzer (its own F1)", "@3 Backspace 4 F1 % #3", ""}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << row[1] << row[2];
        // Clear+Stop resets the test where it is pressed, and shows nothing; clear+1 then
        // returns home, neither key counted, and the reset really cleared the marks.
        const char *pages[] = {"home", "LCD", "keyboard test", "lamp/buzzer", "IOC/FPGA"};
        for (int p = Home; p <= IocFpga; ++p)
            QTest::addRow("clear+Stop on %s", pages[p])
                << QString("@2 5 6 =6/2 @%1 Backspace Pause =6/0 #%1 Backspace 1 #0 =6/0 @2 5 =5/1")
                       .arg(p)
                << "1 1 1";
    }
    void keysAreNamedAndCountedOnlyAsThePanelsOwn()
    {
        QFETCH(QString, script);
        QFETCH(QString, counted);
        for (const QString &word : script.split(' ')) {
            const QChar op = word.at(0);
            const QString rest = word.mid(1);
            const int p = rest.toInt();
            if (op == '@')
                goTo(Page(p));
            else if (op == '#')
                QVERIFY(current() == page(Page(p)) && barShown() == (p != Lcd && p != KeyTest));
            else if (op == '=')
                QCOMPARE(m_keyName->text() + '/' + QString::number(m_progress->value()), rest);
            else if (op == '%') {  // the LCD page as the form made it
                QTest::qWait(300); // longer than a shortcut's animated click
                QWidget *lcd = page(Lcd);
                QCOMPARE(lcd->findChild<QLabel *>("color")->styleSheet(),
                         "background-color: rgb(255, 255, 255);");
                QVERIFY(lcd->findChild<QLabel *>("label")->isVisibleTo(lcd));
                QCOMPARE(lcd->findChild<QPushButton *>("pushButton_7")->geometry(),
                         QRect(670, 90, 130, 60));
            } else if (op == '~')
                QTest::keyRelease(m_window, Qt::Key(QKeySequence(rest)[0]));
            else if (op == '*') {
                QKeyEvent autoRepeat(QEvent::KeyPress, QKeySequence(rest)[0], Qt::NoModifier,
                                     QString(), true);
                QApplication::sendEvent(m_window, &autoRepeat);
            } else
                press(Qt::Key(QKeySequence(word)[0]));
        }
        QCOMPARE(Messages::of().join(' ').remove("progBar "), counted);
    }

    void all31KeysFillTheBarInAnyOrder()
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
        // Reverse order: the count must not depend on the table's order.
        for (int i = 30; i >= 0; --i) {
            press(keys[i]);
            QCOMPARE(m_keyName->text(), legends[i]);
            QCOMPARE(m_progress->value(), 31 - i);
        }
        QCOMPARE(m_progress->value(), m_progress->maximum());
        QCOMPARE(current(), page(KeyTest)); // the hidden bar's soft keys took nothing
        QCOMPARE(Messages::of(), QVector<QString>(31, "progBar 1").toList());
    }
};

QTEST_MAIN(tst_groundwork)
#include "tst_groundwork.moc"
