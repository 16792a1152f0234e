// The keypad's simulated evdev node, checked with plain calls as the kernel's
// evdev would answer them for a key-only device with the panel's keys.

#include "boardsimclient.h"
#include "panelkeys.h"

#include <QtTest>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int bitsPerLong = int(sizeof(long) * 8);
constexpr int keyLongs = (KEY_MAX + bitsPerLong) / bitsPerLong;

bool testBit(const unsigned long *bits, int bit)
{
    return (bits[bit / bitsPerLong] >> (bit % bitsPerLong)) & 1;
}

// The codes whose bits are set in `bits` of `longs` longs.
QVector<int> setBits(const unsigned long *bits, int longs)
{
    QVector<int> codes;
    for (int bit = 0; bit < longs * bitsPerLong; ++bit) {
        if (testBit(bits, bit))
            codes << bit;
    }
    return codes;
}

} // namespace

class TestBoardSimKeypad : public QObject
{
    Q_OBJECT
    BoardSimClient m_board;
    int m_fd = -1;

    // Type, code and value of each record queued; the client's calls return once the
    // records are readable, so no wait.
    QVector<int> records()
    {
        QVector<int> found;
        input_event event{};
        while (::read(m_fd, &event, sizeof(event)) == ssize_t(sizeof(event)))
            found << event.type << event.code << event.value;
        return found;
    }
    static QVector<int> tap(int code)
    {
        return {EV_KEY, code, 1, EV_SYN, SYN_REPORT, 0, EV_KEY, code, 0, EV_SYN, SYN_REPORT, 0};
    }

private slots:
    void init()
    {
        QVERIFY2(m_board.isAvailable(), "run this test under boardsim");
        m_fd = ::open("/dev/input/event1", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY2(m_fd >= 0, qPrintable(qt_error_string(errno)));
    }
    void cleanup()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    void advertisesThePanelKeysAndItsName()
    {
        unsigned long types[1] = {};
        QVERIFY(::ioctl(m_fd, EVIOCGBIT(0, sizeof(types)), types) >= 0);
        QCOMPARE(setBits(types, 1), (QVector<int>{EV_SYN, EV_KEY}));

        unsigned long keys[keyLongs] = {};
        QVERIFY(::ioctl(m_fd, EVIOCGBIT(EV_KEY, sizeof(keys)), keys) >= 0);
        QVector<int> expected;
        for (const board::PanelKey &key : board::panelKeys())
            expected << key.linuxKey;
        std::sort(expected.begin(), expected.end());
        QCOMPARE(setBits(keys, keyLongs), expected);
        QCOMPARE(expected.size(), 32); // 31 keys of the keyboard test and clear
        // Qt's and libinput's keyboard discovery look for a Q key: the keypad
        // has none, so only a node named to them is read.
        QVERIFY(!testBit(keys, KEY_Q));

        char name[64] = {};
        QVERIFY(::ioctl(m_fd, EVIOCGNAME(sizeof(name)), name) > 0);
        QCOMPARE(QByteArray(name), QByteArray("boardsim front-panel keypad"));
    }

    void tapsEveryKeyAsPressReleaseAndSync_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        for (const board::PanelKey &key : board::panelKeys())
            QTest::newRow(key.name) << QString::fromLatin1(key.name) << key.linuxKey;
        // Names are matched without regard to case.
        QTest::newRow("CLEAR") << QStringLiteral("CLEAR") << int(KEY_BACKSPACE);
        QTest::newRow("enter") << QStringLiteral("enter") << int(KEY_ENTER);
        // Keys the panel has not (press and tap find a key alike) are refused, and no record
        // reaches the reader.
        for (const char *missing : {"Q", "F11", "KPEnter"})
            QTest::newRow(missing) << QString(missing) << 0;
    }
    void tapsEveryKeyAsPressReleaseAndSync()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QVERIFY2(m_board.tapKey(name) == (code != 0), qPrintable(m_board.lastError()));
        QCOMPARE(records(), code ? tap(code) : QVector<int>());
    }

    void heldKeyShowsInKeyStateAndPressesOnce()
    {
        // Records are read before each EVIOCGKEY, which, as in the kernel,
        // drops the key records still queued for the reader.
        QVERIFY(m_board.pressKey(QStringLiteral("Stop")));
        // A second press of a held key changes nothing, so the input core
        // drops it.
        QVERIFY(m_board.pressKey(QStringLiteral("Stop")));
        QCOMPARE(records(), tap(KEY_PAUSE).mid(0, 6));
        unsigned long keys[keyLongs] = {};
        QVERIFY(::ioctl(m_fd, EVIOCGKEY(sizeof(keys)), keys) >= 0);
        QCOMPARE(setBits(keys, keyLongs), QVector<int>{KEY_PAUSE});

        QVERIFY(m_board.releaseKey(QStringLiteral("Stop")));
        QCOMPARE(records(), tap(KEY_PAUSE).mid(6));
        QVERIFY(::ioctl(m_fd, EVIOCGKEY(sizeof(keys)), keys) >= 0);
        QCOMPARE(setBits(keys, keyLongs), QVector<int>());
    }
};

QTEST_GUILESS_MAIN(TestBoardSimKeypad)
#include "tst_boardsim_keypad.moc"
