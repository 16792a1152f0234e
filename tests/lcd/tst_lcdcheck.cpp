#include "lcdcheck.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

class tst_lcdcheck : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void f1CyclesThroughTheFiveColours();
    void clearFourHidesAndShowsButtonAndHelp();
    void f1StillChangesColourWhileTheButtonIsHidden();
    void colorShowIgnoresIndicesOutsideTheCycle_data();
    void colorShowIgnoresIndicesOutsideTheCycle();
    void pushColorChangedStepsFromItsArgument_data();
    void pushColorChangedStepsFromItsArgument();

private:
    QString sheet() const { return m_color->styleSheet(); }
    void clearFour()
    {
        QTest::keyClick(m_page, Qt::Key_Backspace);
        QTest::keyClick(m_page, Qt::Key_4);
    }
    void pressF1AndWaitFor(const QString &expected)
    {
        // The shortcut clicks the button through animateClick, ~100 ms later.
        QTest::keyClick(m_page, Qt::Key_F1);
        QTRY_COMPARE(sheet(), expected);
    }

    lcdcheck *m_page = nullptr;
    QLabel *m_color = nullptr;
    QLabel *m_help = nullptr;
    QPushButton *m_button = nullptr;
};

void tst_lcdcheck::init()
{
    m_page = new lcdcheck;
    m_page->show();
    QApplication::setActiveWindow(m_page);
    QVERIFY(QTest::qWaitForWindowActive(m_page));
    m_color = m_page->findChild<QLabel *>("color");
    m_help = m_page->findChild<QLabel *>("label");
    m_button = m_page->findChild<QPushButton *>("pushButton_7");
    QVERIFY(m_color && m_help && m_button);
}

void tst_lcdcheck::cleanup()
{
    delete m_page;
}

void tst_lcdcheck::f1CyclesThroughTheFiveColours()
{
    // The form paints white; the cycle then starts at red and wraps to white.
    QCOMPARE(sheet(), QStringLiteral("background-color: rgb(255, 255, 255);"));
    for (const char *next : {"red", "green", "blue", "black", "white", "red"})
        pressF1AndWaitFor(QStringLiteral("background-color:%1;").arg(QLatin1String(next)));
    // A click does the same as F1.
    QTest::mouseClick(m_button, Qt::LeftButton);
    QCOMPARE(sheet(), QStringLiteral("background-color:green;"));
}

void tst_lcdcheck::clearFourHidesAndShowsButtonAndHelp()
{
    QCOMPARE(m_button->geometry(), QRect(670, 90, 130, 60));
    clearFour();
    // Collapsed, not hidden: a hidden button's shortcut would stop working.
    QCOMPARE(m_button->geometry(), QRect(0, 0, 0, 0));
    QVERIFY(m_button->isVisible());
    QVERIFY(!m_help->isVisible());
    QCOMPARE(sheet(), QStringLiteral("background-color:white;"));

    clearFour();
    QCOMPARE(m_button->geometry(), QRect(620, 90, 130, 60)); // 50 px left of the form's
    QVERIFY(m_help->isVisible());
}

void tst_lcdcheck::f1StillChangesColourWhileTheButtonIsHidden()
{
    pressF1AndWaitFor("background-color:red;");
    clearFour();
    pressF1AndWaitFor("background-color:green;");
    clearFour();
    QCOMPARE(sheet(), QStringLiteral("background-color:green;")); // showing keeps the colour
}

void tst_lcdcheck::colorShowIgnoresIndicesOutsideTheCycle_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    const QString unchanged = QStringLiteral("background-color: rgb(255, 255, 255);");
    // Inside the cycle.
    QTest::newRow("0 white") << 0 << "background-color:white;";
    QTest::newRow("4 black") << 4 << "background-color:black;";
    // Outside: the page keeps what it shows.
    QTest::newRow("5") << 5 << unchanged;
    QTest::newRow("-1") << -1 << unchanged;
    QTest::newRow("INT_MIN") << std::numeric_limits<int>::min() << unchanged;
    QTest::newRow("INT_MAX") << std::numeric_limits<int>::max() << unchanged;
}

void tst_lcdcheck::colorShowIgnoresIndicesOutsideTheCycle()
{
    QFETCH(int, index);
    QFETCH(QString, expected);
    m_page->colorShow(index);
    QCOMPARE(sheet(), expected);
}

void tst_lcdcheck::pushColorChangedStepsFromItsArgument_data()
{
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("argument");
    QTest::addColumn<QString>("expected");
    QTest::newRow("at white, 2 -> blue") << 0 << 2 << "background-color:blue;";
    QTest::newRow("at black, 2 -> white") << 4 << 2 << "background-color:white;";
    QTest::newRow("at red, 4 -> out of range, kept") << 1 << 4 << "background-color:red;";
}

void tst_lcdcheck::pushColorChangedStepsFromItsArgument()
{
    QFETCH(int, presses);
    QFETCH(int, argument);
    QFETCH(QString, expected);
    for (int i = 0; i < presses; ++i)
        m_button->click();
    // Only the meta-object reaches this slot; no connection in the window does.
    QVERIFY(QMetaObject::invokeMethod(m_page, "on_pushColorChanged", Q_ARG(int, argument)));
    QCOMPARE(sheet(), expected);
}

QTEST_MAIN(tst_lcdcheck)
#include "tst_lcdcheck.moc"
