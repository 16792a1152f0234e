#include "lcdcheck.h"
#include "qttestsupport.h"

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

private slots:
    void init()
    {
        m_page = new lcdcheck;
        QVERIFY(showActive(m_page));
        m_color = m_page->findChild<QLabel *>("color");
        m_help = m_page->findChild<QLabel *>("label");
        m_button = m_page->findChild<QPushButton *>("pushButton_7");
        QVERIFY(m_color && m_help && m_button);
    }
    void cleanup() { delete m_page; }

    // A script: "F1" (which clicks the button ~100 ms later), "click", "clear+4", "show:N" and
    // "slot:N" (colorShow and on_pushColorChanged) act; "=COLOUR" waits for the colour ("=form":
    // the form's white), "+form", "+shown" and "+hidden" check the button and the help.
    void pageFollowsItsKeysAndCalls_data()
    {
        QTest::addColumn<QString>("script");
        // The form paints white; the cycle then starts at red and wraps to white.
        QTest::newRow("F1 cycles")
            << "=form F1 =red F1 =green F1 =blue F1 =black F1 =white F1 =red "
               "click =green";
        // Hiding and showing keep the colour, and F1 works with the button collapsed.
        QTest::newRow("clear+4") << "F1 =red +form clear+4 +hidden =red F1 =green clear+4 +shown "
                                    "=green";
        // colorShow outside the cycle (inside it, F1 shows each): the page keeps what it shows.
        QTest::newRow("colorShow outside the cycle")
            << "show:5 =form show:-1 =form show:-2147483648 =form show:2147483647 =form";
        // Only the meta-object reaches this slot; no connection in the window does.
        QTest::newRow("slot at white") << "slot:2 =blue";
        QTest::newRow("slot at black") << "click click click click =black slot:2 =white";
        QTest::newRow("slot out of range") << "click =red slot:4 =red";
    }
    void pageFollowsItsKeysAndCalls()
    {
        QFETCH(QString, script);
        for (const QString &word : script.split(' ')) {
            const int arg = word.section(':', 1).toInt();
            if (word == "F1")
                QTest::keyClick(m_page, Qt::Key_F1);
            else if (word == "click")
                QTest::mouseClick(m_button, Qt::LeftButton);
            else if (word == "clear+4") {
                QTest::keyClick(m_page, Qt::Key_Backspace);
                QTest::keyClick(m_page, Qt::Key_4);
            } else if (word.startsWith("show:"))
                m_page->colorShow(arg);
            else if (word.startsWith("slot:"))
                QVERIFY(QMetaObject::invokeMethod(m_page, "on_pushColorChanged", Q_ARG(int, arg)));
            else if (word.startsWith('='))
                QTRY_COMPARE(m_color->styleSheet(),
                             word == "=form"
                                 ? QStringLiteral("background-color: rgb(255, 255, 255);")
                                 : "background-color:" + word.mid(1) + ';');
            else { // 50 px left of the form's place when shown again
                QCOMPARE(m_button->geometry(), word == "+form"    ? QRect(670, 90, 130, 60)
                                               : word == "+shown" ? QRect(620, 90, 130, 60)
                                                                  : QRect());
                // Collapsed, not hidden: a hidden button's shortcut would stop working.
                QVERIFY(m_button->isVisible());
                QCOMPARE(m_help->isVisible(), word != "+hidden");
            }
        }
    }
};

QTEST_MAIN(tst_lcdcheck)
#include "tst_lcdcheck.moc"
