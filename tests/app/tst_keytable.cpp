#include "keytable.h"

#include <QSet>
#include <QtTest>

class tst_KeyTable : public QObject
{
    Q_OBJECT
private slots:
    void panelKeysHaveTheirLegend_data();
    void panelKeysHaveTheirLegend();
    void keysThePanelNeverSendsAreNotInTheTable_data();
    void keysThePanelNeverSendsAreNotInTheTable();
    void everyIndexHasOneDistinctKey();
};

void tst_KeyTable::panelKeysHaveTheirLegend_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    // Function keys: F1 to F10 are indices 0 to 9.
    QTest::newRow("F1") << int(Qt::Key_F1) << 0 << "F1";
    QTest::newRow("F10") << int(Qt::Key_F10) << 9 << "F10";
    // Digits and the point.
    QTest::newRow("0") << int(Qt::Key_0) << 10 << "0";
    QTest::newRow("9") << int(Qt::Key_9) << 19 << "9";
    QTest::newRow(".") << int(Qt::Key_Period) << 20 << ".";
    // Keys whose legend differs from the Qt key they arrive as.
    QTest::newRow("Return is Enter") << int(Qt::Key_Return) << 24 << "Enter";
    QTest::newRow("ScrollLock is Home") << int(Qt::Key_ScrollLock) << 25 << "Home";
    QTest::newRow("F12 is Memory") << int(Qt::Key_F12) << 26 << "Memory";
    QTest::newRow("VolumeDown is Auto") << int(Qt::Key_VolumeDown) << 27 << "Auto";
    QTest::newRow("VolumeUp is System") << int(Qt::Key_VolumeUp) << 28 << "System";
    QTest::newRow("VolumeMute is Start") << int(Qt::Key_VolumeMute) << 29 << "Start";
    QTest::newRow("Pause is Stop") << int(Qt::Key_Pause) << 30 << "Stop";
}

void tst_KeyTable::panelKeysHaveTheirLegend()
{
    QFETCH(int, key);
    QFETCH(int, index);
    QFETCH(QString, name);
    QCOMPARE(KeyTable::indexOf(key), index);
    QCOMPARE(KeyTable::name(index), name);
}

void tst_KeyTable::keysThePanelNeverSendsAreNotInTheTable_data()
{
    QTest::addColumn<int>("key");
    // Neighbours of panel keys that a PC keyboard sends and the panel does not.
    QTest::newRow("F11") << int(Qt::Key_F11);
    QTest::newRow("Up") << int(Qt::Key_Up);
    QTest::newRow("Down") << int(Qt::Key_Down);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    // The clear key only ever opens a two-key shortcut.
    QTest::newRow("Backspace (clear)") << int(Qt::Key_Backspace);
    QTest::newRow("letter") << int(Qt::Key_A);
    QTest::newRow("no key") << 0;
}

void tst_KeyTable::keysThePanelNeverSendsAreNotInTheTable()
{
    QFETCH(int, key);
    QCOMPARE(KeyTable::indexOf(key), -1);
}

void tst_KeyTable::everyIndexHasOneDistinctKey()
{
    QSet<QString> names;
    for (int i = 0; i < KeyTable::KeyCount; ++i)
        names.insert(KeyTable::name(i));
    QCOMPARE(names.size(), KeyTable::KeyCount);
    QVERIFY(KeyTable::name(KeyTable::KeyCount).isEmpty());
    QVERIFY(KeyTable::name(-1).isEmpty());
}

QTEST_APPLESS_MAIN(tst_KeyTable)
#include "tst_keytable.moc"
