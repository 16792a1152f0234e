#include "lcdcheck.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

class tst_lcdcheck : public QObject
{
    Q_OBJECT
    lcdcheck *m_page = nullptr;
    QLabel *m_color = nullptr;
    QLabel *m_help = nullptr;
    QPushButton *m_button = nullptr;

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

private slots:
    void init()
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
    void cleanup() { delete m_page; }

    void f1CyclesThroughTheFiveColours()
    {
        // The form paints white; the cycle then starts at red and wraps to white.
        QCOMPARE(sheet(), QStringLiteral("background-color: rgb(255, 255, 255);"));
        for (const char *next : {"red", "green", "blue", "black", "white", "red"})
            pressF1AndWaitFor(QStringLiteral("background-color:%1;").arg(QLatin1String(next)));
        // A click does the same as F1.
        QTest::mouseClick(m_button, Qt::LeftButton);
        QCOMPARE(sheet(), QStringLiteral("background-color:green;"));
    }

    void clearFourHidesAndShowsButtonAndHelpWhileF1Cycles()
    {
        pressF1AndWaitFor("background-color:red;");
        QCOMPARE(m_button->geometry(), QRect(670, 90, 130, 60));
        clearFour();
        // Collapsed, not hidden: a hidden button's shortcut would stop working.
        QCOMPARE(m_button->geometry(), QRect(0, 0, 0, 0));
        QVERIFY(m_button->isVisible());
        QVERIFY(!m_help->isVisible());
        QCOMPARE(sheet(), QStringLiteral("background-color:red;")); // hiding keeps the colour
        pressF1AndWaitFor("background-color:green;");               // and F1 still works

        clearFour();
        QCOMPARE(m_button->geometry(), QRect(620, 90, 130, 60)); // 50 px left of the form's
        QVERIFY(m_help->isVisible());
        QCOMPARE(sheet(), QStringLiteral("background-color:green;")); // showing keeps the colour
    }

    void colorShowIgnoresIndicesOutsideTheCycle_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("expected");
        const QString unchanged = QStringLiteral("background-color: rgb(255, 255, 255);");
        QTest::newRow("0 white") << 0 << "background-color:white;";
        QTest::newRow("4 black") << 4 << "background-color:black;";
        // Outside: the page keeps what it shows.
        QTest::newRow("5") << 5 << unchanged;
        QTest::newRow("-1") << -1 << unchanged;
        QTest::newRow("INT_MIN") << std::numeric_limits<int>::min() << unchanged;
        QTest::newRow("INT_MAX") << std::numeric_limits<int>::max() << unchanged;
    }
    void colorShowIgnoresIndicesOutsideTheCycle()
    {
        QFETCH(int, index);
        QFETCH(QString, expected);
        m_page->colorShow(index);
        QCOMPARE(sheet(), expected);
    }

    void pushColorChangedStepsFromItsArgument_data()
    {
        QTest::addColumn<int>("presses");
        QTest::addColumn<int>("argument");
        QTest::addColumn<QString>("expected");
        QTest::newRow("at white, 2 -> blue") << 0 << 2 << "background-color:blue;";
        QTest::newRow("at black, 2 -> white") << 4 << 2 << "background-color:white;";
        QTest::newRow("at red, 4 -> out of range, kept") << 1 << 4 << "background-color:red;";
    }
    void pushColorChangedStepsFromItsArgument()
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
};

QTEST_MAIN(tst_lcdcheck)
#include "tst_lcdcheck.moc"
