// The simulator's kernel imitations that need no mount, called directly: evdev's per-open
// ring, its ioctl answers and the sysfs GPIO stores. Each row is named after the kernel
// function it mirrors (drivers/input/evdev.c, drivers/gpio/gpiolib-sysfs.c, lib/kstrtox.c).

#include "evdev/evdevclient.h"
#include "evdev/evdevdevice.h"
#include "evdev/evdevioctl.h"
#include "evdev/evdevrecord.h"
#include "gpio/gpiolines.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <linux/input.h>

namespace {

// An errno by its name, a count (or -errno), C's escapes: each row reads as one line.
QString errnoName(int err)
{
    const char *name = strerrorname_np(err);
    return name ? QString(name) : QString::number(err);
}

QString result(long n)
{
    return n < 0 ? errnoName(int(-n)) : QString::number(n);
}

QByteArray unescaped(QString text)
{
    return text.replace("\\n", "\n").replace("\\r", "\r").replace("\\0", QChar(0)).toUtf8();
}

// X=v (ABS_X), K=v (KEY_A), SYN (SYN_REPORT) or DROP (SYN_DROPPED).
EvdevEvent parseEvent(const QString &word)
{
    if (word == "SYN" || word == "DROP")
        return {timeval{}, EV_SYN, uint16_t(word == "SYN" ? SYN_REPORT : SYN_DROPPED), 0};
    const int32_t value = word.mid(2).toInt();
    return word.startsWith("K=") ? EvdevEvent{timeval{}, EV_KEY, KEY_A, value}
                                 : EvdevEvent{timeval{}, EV_ABS, ABS_X, value};
}

QString word(const EvdevEvent &e)
{
    if (e.type == EV_SYN && (e.code == SYN_REPORT || e.code == SYN_DROPPED))
        return e.code == SYN_REPORT ? "SYN" : "DROP";
    if (e.type == EV_ABS && e.code == ABS_X)
        return QString("X=%1").arg(e.value);
    if (e.type == EV_KEY && e.code == KEY_A)
        return QString("K=%1").arg(e.value);
    return QString("%1:%2=%3").arg(e.type).arg(e.code).arg(e.value);
}

// Bytes with the given bits set, as bits_to_user() lays out longs (little-endian).
QByteArray bits(std::initializer_list<int> set, int length)
{
    QByteArray bytes(length, '\0');
    for (int bit : set)
        bytes[bit / 8] = char(bytes[bit / 8] | (1 << (bit % 8)));
    return bytes;
}

template <typename T> QByteArray bytesOf(const T &value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof(value));
}

// A key-only device with a physical path and no unique id.
EvdevDevice keyDevice()
{
    EvdevDevice d;
    d.node = "event1";
    d.name = "keys";
    d.phys = "keys/input0";
    d.codes[EV_KEY] = {KEY_A, KEY_B};
    return d;
}

} // namespace

class TestBoardSimCore : public QObject
{
    Q_OBJECT

private slots:
    // A script of steps ("; "-separated); the words they print. On one client's ring (8 events
    // unless "ring N" makes one of N), every batch passing at real 1 s, monotonic 2 s, boot 3 s:
    //   pass W,W,...  one batch from the input core: "wake" when a reader is to be woken
    //   fetch         every event a reader may take now, or "none";  when  the last one's second
    //   unread N      events in the ring;  clock ID  EVIOCSCLOCKID: ok or bad
    //   keys          EVIOCGKEY, which flushes the queued EV_KEY events (evdev_handle_get_val)
    //   record native|compat  a record of ABS_X -7 at 1700000000.123456 s, written and read
    //                 back: its size, the time it holds, the event and the time read back
    // On the GPIO lines (line 7 refuses to export; 128 is exported as an output, low):
    //   export TEXT, direction L TEXT, value L TEXT   0 or the errno;  show L  "in,0" or "out,1"
    //   kstrtol TEXT  the value, or the errno
    // The kernel rows export, unexport and refuse an input's value through the files.
    void scripts_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        auto row = [](const char *name, const char *script, const char *expected) {
            QTest::newRow(name) << script << expected;
        };
        row("evdev_pass_values: a packet reaches the reader with its SYN_REPORT",
            "pass X=1; fetch; unread; pass SYN; fetch", "- none 1 wake X=1,SYN");
        row("evdev_fetch_next_event: reading stops at the packet head",
            "pass X=1,SYN,X=2; fetch; unread; fetch", "wake X=1,SYN 1 none");
        row("__pass_event: an overflow inside a packet waits for its SYN_REPORT",
            "ring 4; pass X=1,SYN,X=2,X=3; fetch; pass SYN; fetch", "wake none wake DROP,X=3,SYN");
        row("__pass_event: the ring holds one event less than its size",
            "ring 4; pass X=1,SYN,X=2; unread; fetch", "wake 3 X=1,SYN");
        row("evdev_pass_values: stamped on the client's clock",
            "pass X=1,SYN; fetch; when; clock 1; pass X=2,SYN; fetch; when; clock 7; "
            "pass X=3,SYN; fetch; when",
            "wake X=1,SYN 1 ok wake X=2,SYN 2 ok wake X=3,SYN 3");
        row("evdev_set_clk_type: a change drops the queue and leaves SYN_DROPPED",
            "pass X=1,SYN,X=2; clock 1; unread; fetch; pass X=3,SYN; fetch",
            "wake ok 1 none wake DROP,X=3,SYN");
        row("evdev_set_clk_type: the same clock again keeps the queue",
            "pass X=1,SYN; clock 0; fetch", "wake ok X=1,SYN");
        row("evdev_set_clk_type: only the real, monotonic and boot clocks",
            "clock 4; clock 5; clock -1; clock 7", "bad bad bad ok");
        row("__evdev_flush_queue: a type's events go, a leading SYN_REPORT stays",
            "pass K=1,SYN,X=2,SYN; keys; fetch", "wake SYN,X=2,SYN");
        row("__evdev_flush_queue: the packets left empty go",
            "pass K=1,SYN,K=0,SYN,X=3,SYN,X=4; keys; unread; fetch", "wake 4 SYN,X=3,SYN");
        row("__evdev_flush_queue: a type not queued changes nothing",
            "pass X=1,SYN,X=2; keys; fetch; pass SYN; fetch", "wake X=1,SYN wake X=2,SYN");
        row("input_event_to_user, input_event_from_user: the task's longs; the time is the core's",
            "record native; record compat",
            "24 1700000000.123456 X=-7@0 16 1700000000.123456 X=-7@0");
        row("kstrtol: base 0 reads decimal, hex and octal, a sign and one line end",
            "kstrtol 18; kstrtol 0x13; kstrtol 010\\n; kstrtol +7; kstrtol -0x10", "18 19 8 7 -16");
        row("kstrtol: a long's range", "kstrtol -9223372036854775808; kstrtol 99999999999999999999",
            "-9223372036854775808 ERANGE");
        row("kstrtol: nothing else around the number",
            "kstrtol 5\\n\\n; kstrtol  5; kstrtol 5 ; kstrtol gpio5; kstrtol 08; kstrtol 0x; "
            "kstrtol --5; kstrtol ; kstrtol \\n",
            "EINVAL EINVAL EINVAL EINVAL EINVAL EINVAL EINVAL EINVAL EINVAL");
        // kernfs_fop_write_iter() ends the bytes written with a NUL; a NUL among them ends
        // the text. _kstrtoull() finds an overflow before it looks past the digits.
        row("kstrtol: the text ends at a NUL, an overflow is found first",
            "kstrtol 25\\0junk; kstrtol 26\\n\\0junk; kstrtol 99999999999999999999x; "
            "kstrtol 9999999999999999999x",
            "25 26 ERANGE EINVAL");
        row("export_store: kstrtol names the line", "export 0x13; export 010\\n; show 19; show 8",
            "0 0 in,0 in,0");
        row("gpio_to_desc: no line 256, -1 or one the chips do not have",
            "export 256; export -1; export 7", "EINVAL EINVAL EINVAL");
        row("direction_store: high, out, low and in, with or without a line end",
            "export 21; direction 21 high; show 21; direction 21 out\\n; show 21; "
            "direction 21 high; direction 21 low; show 21; direction 21 in; show 21",
            "0 0 out,1 0 out,0 0 0 out,0 0 in,0");
        row("sysfs_streq: anything else is EINVAL",
            "export 22; direction 22 OUT; direction 22  in; direction 22 out\\r\\n; "
            "direction 22 out\\n\\n",
            "0 EINVAL EINVAL EINVAL EINVAL");
        row("sysfs_streq: the text ends at a NUL", "export 24; direction 24 out\\0in; show 24",
            "0 0 out,0");
        row("value_store: any number kstrtol takes, high when not 0",
            "direction 128 out; value 128 2; show 128; value 128 0x0; show 128; value 128 on; "
            "value 128 -1\\n; show 128",
            "0 0 out,1 0 out,0 EINVAL 0 out,1");
        row("value_store: a number kstrtol refuses leaves the level",
            "value 128 1; value 128 1\\n\\n; show 128", "0 EINVAL out,1");
    }

    void scripts()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        EvdevClient client(8);
        EvdevDevice keys = keyDevice();
        const EvdevTimes times{{1, 0}, {2, 0}, {3, 0}};
        EvdevEvent last{};
        GpioLines lines;
        lines.refuseExport(7);
        lines.preExport(128, true, false);
        QStringList words;
        for (const QString &step : script.split("; ")) {
            const QString op = step.section(' ', 0, 0), arg = step.section(' ', 1);
            const std::string text = unescaped(arg).toStdString();
            const std::string lineText = unescaped(step.section(' ', 2)).toStdString();
            const int line = arg.section(' ', 0, 0).toInt();
            long value = 0;
            if (op == "ring") {
                client = EvdevClient(arg.toUInt());
            } else if (op == "pass") {
                std::vector<EvdevEvent> values;
                for (const QString &w : arg.split(','))
                    values.push_back(parseEvent(w));
                words << (client.passValues(values, times) ? "wake" : "-");
            } else if (op == "fetch") {
                QStringList events;
                while (client.fetch(&last))
                    events << word(last);
                words << (events.isEmpty() ? "none" : events.join(','));
            } else if (op == "when") {
                words << QString::number(last.time.tv_sec);
            } else if (op == "unread") {
                words << QString::number(client.unread());
            } else if (op == "clock") {
                words << (client.setClock(clockid_t(arg.toInt())) ? "ok" : "bad");
            } else if (op == "keys") {
                evdevIoctl(keys, client, EVIOCGKEY(96), {}, false);
            } else if (op == "record") {
                const bool compat = arg == "compat";
                const std::string record =
                    encodeEvdevRecord({{1700000000, 123456}, EV_ABS, ABS_X, -7}, compat);
                QCOMPARE(evdevRecordSize(compat), record.size());
                // Seconds, then microseconds, each a long of the caller's ABI.
                const size_t half = compat ? 4 : 8;
                long long sec = 0, usec = 0;
                std::memcpy(&sec, record.data(), half);
                std::memcpy(&usec, record.data() + half, half);
                // The written time is the input core's to set, never the writer's.
                const EvdevEvent out = decodeEvdevRecord(record.data(), compat);
                words << QString::number(record.size()) << QString("%1.%2").arg(sec).arg(usec)
                      << word(out) + "@" + QString::number(out.time.tv_sec);
            } else if (op == "kstrtol") {
                const int err = kstrtol(text, &value);
                words << (err ? errnoName(-err) : QString::number(value));
            } else if (op == "export") {
                words << result(lines.exportStore(text));
            } else if (op == "direction") {
                words << result(lines.directionStore(line, lineText));
            } else if (op == "value") {
                words << result(lines.valueStore(line, lineText));
            } else if (op == "show") {
                words << QString("%1,%2")
                             .arg(lines.line(line).output ? "out" : "in")
                             .arg(lines.line(line).high ? 1 : 0);
            } else {
                QFAIL(qPrintable("no such step: " + step));
            }
        }
        QCOMPARE(words.join(' '), expected);
    }

    // The kernel rows (kernelrows/) check through the node what every target answers alike:
    // the version, id, axis, the types' bits, a cut name, the clock ids, an unknown request.
    void ioctl_data()
    {
        QTest::addColumn<bool>("keys"); // the key device, else the encoder
        QTest::addColumn<unsigned>("request");
        QTest::addColumn<bool>("compat");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("answer");
        auto row = [](const char *name, bool keys, unsigned request, bool compat, int result,
                      const QByteArray &answer) {
            QTest::newRow(name) << keys << request << compat << result << answer;
        };
        row("str_to_user: the name and its NUL", false, EVIOCGNAME(64), false, 24,
            QByteArray("boardsim rotary encoder", 24));
        row("str_to_user: the physical path", true, EVIOCGPHYS(64), false, 12,
            QByteArray("keys/input0", 12));
        row("str_to_user: no unique id is ENOENT", true, EVIOCGUNIQ(64), false, -ENOENT, {});
        row("handle_eviocgbit: the codes of one type", false, EVIOCGBIT(EV_ABS, 64), false, 8,
            bits({ABS_X}, 8));
        row("handle_eviocgbit: a type the device lacks is all zeros, KEY_MAX wide", false,
            EVIOCGBIT(EV_KEY, 128), false, 96, bits({}, 96));
        row("bits_to_user: cut to the caller's buffer", true, EVIOCGBIT(EV_KEY, 4), false, 4,
            bits({KEY_A}, 4));
        row("handle_eviocgbit: a type without a bit mask is EINVAL", false, EVIOCGBIT(EV_REP, 64),
            false, -EINVAL, {});
        row("evdev_do_ioctl: EVIOCGPROP, none set", false, EVIOCGPROP(64), false, 8, bits({}, 8));
        // Qt's keyboard handler asks for the LEDs to restore them: the keypad has none, all off.
        row("evdev_handle_get_val: no LED on, 32-bit longs", true, EVIOCGLED(8), true, 4,
            bits({}, 4));
        row("evdev_do_ioctl: EVIOCGABS without absolute axes is EINVAL", true, EVIOCGABS(ABS_X),
            false, -EINVAL, {});
        // Through FUSE this reaches the caller as ENOTTY, so only here is it pinned.
        row("evdev_do_ioctl: EVIOCGREP without EV_REP is ENOSYS", false, EVIOCGREP, false, -ENOSYS,
            {});
        row("evdev_do_ioctl: EVIOCGEFFECTS without EV_FF is 0", false, EVIOCGEFFECTS, false, 0,
            bytesOf(int(0)));
        row("evdev_do_ioctl: no keymap for EVIOCGKEYCODE", true, EVIOCGKEYCODE, false, -EINVAL, {});
        row("evdev_do_ioctl: no multi-touch slots", false, EVIOCGMTSLOTS(64), false, -EINVAL, {});
        row("input_ff_upload: EVIOCSFF without EV_FF", false, EVIOCSFF, false, -ENOSYS, {});
        row("evdev_do_ioctl: another type's request is EINVAL", false, _IOR('F', 1, int), false,
            -EINVAL, {});
    }

    void ioctl()
    {
        QFETCH(bool, keys);
        QFETCH(unsigned, request);
        QFETCH(bool, compat);
        QFETCH(int, result);
        QFETCH(QByteArray, answer);
        EvdevDevice device = keys ? keyDevice() : rotaryEncoderDevice(0);
        EvdevClient client(device.bufferSize());
        const EvdevIoctlAnswer got = evdevIoctl(device, client, request, {}, compat);
        QCOMPARE(result < 0 ? errnoName(-got.result) : QString::number(got.result),
                 result < 0 ? errnoName(-result) : QString::number(result));
        QCOMPARE(QByteArray::fromStdString(got.bytes), answer);
    }
};

QTEST_GUILESS_MAIN(TestBoardSimCore)
#include "tst_boardsim_core.moc"
