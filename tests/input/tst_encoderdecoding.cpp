#include "rotaryencoder.h"

#include <QtTest>

#include <linux/input.h>

// The reader's step arithmetic and record filtering, without a device.
class tst_EncoderDecoding : public QObject
{
    Q_OBJECT

private slots:
    // reference -1: no start position known; step 0: the call emits nothing.
    void recordGivesStepFromReference_data()
    {
        QTest::addColumn<int>("reference");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("referenceAfter");

        QTest::newRow("up one") << 100 << EV_ABS << 101 << 1 << 101;
        QTest::newRow("down one") << 100 << EV_ABS << 99 << -1 << 99;
        // Jumps are reported as they are (the display ignores them) and move the reference.
        QTest::newRow("up three") << 100 << EV_ABS << 103 << 3 << 103;
        // The farthest a signed 16-bit step reaches either way.
        QTest::newRow("largest jump up") << 0 << EV_ABS << 32767 << 32767 << 32767;
        QTest::newRow("largest jump down") << 0 << EV_ABS << 32768 << -32768 << 32768;
        // Counted modulo 65536: crossing a multiple of it is one detent.
        QTest::newRow("65535 to 65536") << 65535 << EV_ABS << 65536 << 1 << 0;
        QTest::newRow("0 to -1") << 0 << EV_ABS << -1 << -1 << 65535;
        // No position: nothing, and the reference stays, even with a step-like value.
        QTest::newRow("EV_SYN") << 100 << EV_SYN << 0 << 0 << 100;
        QTest::newRow("EV_KEY") << 100 << EV_KEY << 1 << 0 << 100;
        QTest::newRow("EV_REL") << 100 << EV_REL << 101 << 0 << 100;
        // Without a start position the first record only becomes it (a guess could miscount).
        QTest::newRow("no reference") << -1 << EV_ABS << 5000 << 0 << 5000;
    }

    void recordGivesStepFromReference()
    {
        QFETCH(int, reference);
        QFETCH(int, type);
        QFETCH(int, position);
        QFETCH(int, step);
        QFETCH(int, referenceAfter);

        input_event record{};
        record.type = quint16(type);
        record.value = position;
        auto ref = reference < 0 ? std::optional<quint16>() : std::optional<quint16>(reference);
        short got = 12345; // overwritten only when the call emits
        QCOMPARE(RotaryEncoder::decodeStep(record, ref, got), step != 0);
        QCOMPARE(int(got), step != 0 ? step : 12345);
        QCOMPARE(ref ? int(*ref) : -1, referenceAfter);
    }
};

QTEST_APPLESS_MAIN(tst_EncoderDecoding)
#include "tst_encoderdecoding.moc"
