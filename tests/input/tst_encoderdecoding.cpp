#include "rotaryencoder.h"

#include <QtTest>

#include <linux/input.h>

#include <optional>

// The step arithmetic and record filtering of the encoder reader, without a device.
class tst_EncoderDecoding : public QObject
{
    Q_OBJECT

private slots:
    void recordGivesStepFromReference_data();
    void recordGivesStepFromReference();
};

static input_event makeRecord(int type, int code, int value)
{
    input_event record{};
    record.type = quint16(type);
    record.code = quint16(code);
    record.value = value;
    return record;
}

// reference -1 means "no start position known".
void tst_EncoderDecoding::recordGivesStepFromReference_data()
{
    QTest::addColumn<int>("reference");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("emits");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("referenceAfter");

    // Neighbouring positions: the single detents the display counts.
    QTest::newRow("up one") << 100 << EV_ABS << ABS_X << 101 << true << 1 << 101;
    QTest::newRow("down one") << 100 << EV_ABS << ABS_X << 99 << true << -1 << 99;
    QTest::newRow("no change") << 100 << EV_ABS << ABS_X << 100 << true << 0 << 100;

    // Jumps are reported as they are (the display ignores them) and still move the reference.
    QTest::newRow("up three") << 100 << EV_ABS << ABS_X << 103 << true << 3 << 103;
    // 32767 and -32768 are the farthest a signed 16-bit step reaches.
    QTest::newRow("largest jump up") << 0 << EV_ABS << ABS_X << 32767 << true << 32767 << 32767;
    QTest::newRow("largest jump down") << 0 << EV_ABS << ABS_X << 32768 << true << -32768 << 32768;
    // One more than the largest jump up wraps round to the largest jump down.
    QTest::newRow("past largest jump") << 1 << EV_ABS << ABS_X << 32769 << true << -32768 << 32769;

    // The count is taken modulo 65536: crossing a multiple of it is one detent.
    QTest::newRow("65535 to 65536") << 65535 << EV_ABS << ABS_X << 65536 << true << 1 << 0;
    QTest::newRow("65536 to 65535") << 0 << EV_ABS << ABS_X << 65535 << true << -1 << 65535;
    QTest::newRow("0 to -1") << 0 << EV_ABS << ABS_X << -1 << true << -1 << 65535;
    QTest::newRow("-1 to 0") << 65535 << EV_ABS << ABS_X << 0 << true << 1 << 0;
    // Far negative counts wrap the same way (-65537 has low bits 0xFFFF).
    QTest::newRow("-65536 to -65537") << 0 << EV_ABS << ABS_X << -65537 << true << -1 << 65535;

    // The code is not examined: another absolute axis counts like ABS_X.
    QTest::newRow("ABS_Y counts") << 100 << EV_ABS << ABS_Y << 101 << true << 1 << 101;

    // Records without a position give nothing and leave the reference alone,
    // even when their value would look like a step.
    QTest::newRow("EV_SYN") << 100 << EV_SYN << SYN_REPORT << 0 << false << 0 << 100;
    QTest::newRow("EV_KEY press") << 100 << EV_KEY << KEY_ENTER << 1 << false << 0 << 100;
    QTest::newRow("EV_REL") << 100 << EV_REL << REL_X << 101 << false << 0 << 100;

    // Without a start position the first position record only becomes the
    // reference: a guessed one could count a detent the wrong way round.
    QTest::newRow("first record without reference")
        << -1 << EV_ABS << ABS_X << 5000 << false << 0 << 5000;
    QTest::newRow("sync without reference") << -1 << EV_SYN << SYN_REPORT << 0 << false << 0 << -1;
}

void tst_EncoderDecoding::recordGivesStepFromReference()
{
    QFETCH(int, reference);
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(int, position);
    QFETCH(bool, emits);
    QFETCH(int, step);
    QFETCH(int, referenceAfter);

    std::optional<quint16> ref;
    if (reference >= 0)
        ref = quint16(reference);
    // A value the call must overwrite when it emits, and keep when it does not.
    short got = 12345;
    QCOMPARE(RotaryEncoder::decodeStep(makeRecord(type, code, position), ref, got), emits);
    QCOMPARE(int(got), emits ? step : 12345);
    QCOMPARE(ref.has_value(), referenceAfter >= 0);
    if (ref)
        QCOMPARE(int(*ref), referenceAfter);
}

QTEST_APPLESS_MAIN(tst_EncoderDecoding)
#include "tst_encoderdecoding.moc"
