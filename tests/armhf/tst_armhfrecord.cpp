#include "recordlayout.h"

#include <QtTest>

#include <cstring>
#include <linux/input.h>

Q_DECLARE_METATYPE(RecordLayout)

// The encoder reader reads the board's evdev record as 16 raw bytes: two
// 32-bit time fields, then type, code and value, little-endian. These checks
// hold on the 32-bit ARM target only, which is why only the ARM build has them.
class tst_armhfrecord : public QObject
{
    Q_OBJECT

private slots:
    void recordHasTheBoardLayout_data();
    void recordHasTheBoardLayout();
    void rawBoardBytesDecodeToTheirFields_data();
    void rawBoardBytesDecodeToTheirFields();
};

void tst_armhfrecord::recordHasTheBoardLayout_data()
{
    QTest::addColumn<RecordLayout>("layout");

    // The compiler options this project builds with.
    QTest::newRow("default time_t") << RecordLayout::native();
    // 64-bit time_t doubles struct timeval, yet the 32-bit kernel interface
    // still hands out 16-byte records: the kernel's header then switches to
    // two 32-bit longs, so a move to 64-bit time must not change the record.
    QTest::newRow("64-bit time_t") << RecordLayout::time64();
}

void tst_armhfrecord::recordHasTheBoardLayout()
{
    QFETCH(RecordLayout, layout);

    QCOMPARE(layout.size, std::size_t(16));
    QCOMPARE(layout.secOffset, std::size_t(0));
    QCOMPARE(layout.usecOffset, std::size_t(4));
    QCOMPARE(layout.typeOffset, std::size_t(8));
    QCOMPARE(layout.codeOffset, std::size_t(10));
    QCOMPARE(layout.valueOffset, std::size_t(12));
}

void tst_armhfrecord::rawBoardBytesDecodeToTheirFields_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("value");

    // Records as the board's kernel writes them: time, type, code, value,
    // each field little-endian.
    QTest::newRow("encoder position past 16 bits") << QByteArray::fromHex("10000000"
                                                                          "20000000"
                                                                          "0300"
                                                                          "0000"
                                                                          "70110100")
                                                   << EV_ABS << ABS_X << 70000; // 0x00011170
    QTest::newRow("negative position") << QByteArray::fromHex("10000000"
                                                              "20000000"
                                                              "0300"
                                                              "0000"
                                                              "ffffffff")
                                       << EV_ABS << ABS_X << -1; // value is signed
    QTest::newRow("other axis") << QByteArray::fromHex("00000000"
                                                       "00000000"
                                                       "0300"
                                                       "0100"
                                                       "2a000000")
                                << EV_ABS << ABS_Y << 42; // the code sits between type and value
    QTest::newRow("synchronisation") << QByteArray::fromHex("00000000"
                                                            "00000000"
                                                            "0000"
                                                            "0000"
                                                            "00000000")
                                     << EV_SYN << SYN_REPORT << 0;
}

void tst_armhfrecord::rawBoardBytesDecodeToTheirFields()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(int, value);

    // The reader reads straight into an input_event: the bytes must land in
    // the fields without any conversion.
    QCOMPARE(bytes.size(), int(sizeof(input_event)));
    input_event record;
    std::memcpy(&record, bytes.constData(), sizeof record);
    QCOMPARE(int(record.type), type);
    QCOMPARE(int(record.code), code);
    QCOMPARE(int(record.value), value);
}

QTEST_GUILESS_MAIN(tst_armhfrecord)
#include "tst_armhfrecord.moc"
