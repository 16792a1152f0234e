#include <QtTest>

#include <cstddef>
#include <linux/input.h>

// The board's evdev record: two 32-bit time fields, then type, code and value, 16 bytes. Only the
// 32-bit ARM target lays it out so (recordlayout_time64.cpp: the same under a 64-bit time_t).
class tst_armhfrecord : public QObject
{
    Q_OBJECT

private slots:
    void recordHasTheBoardLayout()
    {
        const QList<int> layout{int(sizeof(input_event)), int(offsetof(input_event, type)),
                                int(offsetof(input_event, code)),
                                int(offsetof(input_event, value))};
        QCOMPARE(layout, (QList<int>{16, 8, 10, 12})); // size; type, code and value offsets
    }
};

QTEST_GUILESS_MAIN(tst_armhfrecord)
#include "tst_armhfrecord.moc"
