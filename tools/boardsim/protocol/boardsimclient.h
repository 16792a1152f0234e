#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// Client of the simulated board's control socket, for tests and benchmarks that
// run inside `boardsim -- ...`. It finds the socket through $BOARDSIM_CONTROL.
// Every call is synchronous: when it returns, the simulator has done it (a
// queued record is readable, a scenario is in force). Commands return false and
// queries return no value when there is no simulator or it refused the request,
// so that a dead board never reads as a zero; the reason is in lastError().
class BoardSimClient
{
public:
    BoardSimClient();
    explicit BoardSimClient(const QString &socketPath);
    ~BoardSimClient();
    BoardSimClient(const BoardSimClient &) = delete;
    BoardSimClient &operator=(const BoardSimClient &) = delete;

    // True when running under boardsim and its control socket answers.
    bool isAvailable();
    QString lastError() const;
    // How long a reply may take before the call fails (default 15 s); a wait
    // for the transcript gets its own time-out on top.
    void setReplyTimeout(int ms);

    // ---- Encoder (/dev/input/event0) ----
    // Turns the encoder by `steps` single steps (negative: the other way): for
    // each step one EV_ABS/ABS_X record at the new position, then one EV_SYN.
    bool turn(int steps);
    // Moves the encoder to `position` in one EV_ABS/ABS_X record (+ EV_SYN).
    bool turnTo(int position);
    // Queues one raw record of any type, code and value (no EV_SYN added).
    bool queueRecord(int type, int code, int value);
    // Sets what EVIOCGABS(ABS_X) answers, without queuing a record.
    bool setPosition(int position);
    // The encoder's current position (as EVIOCGABS would answer).
    std::optional<int> position();
    // Records queued and not yet read by anyone.
    std::optional<int> pendingRecords();
    // Makes the EVIOCGABS ioctl fail (with ENOTTY, as on a device without the axis).
    bool setIoctlFails(bool fails);
    // Makes the device vanish: open fails with ENOENT, pending and later reads on
    // open descriptors fail with ENODEV; false brings it back.
    bool setDeviceGone(bool gone);

    // ---- Keypad (/dev/input/event1) ----
    // A front-panel key by its name on the panel (panelkeys.h: "F1", "0", ".",
    // "Enter", "Home", "Stop", "clear", ...): its EV_KEY record, then EV_SYN.
    // A tap is a press and a release.
    bool pressKey(const QString &name);
    bool releaseKey(const QString &name);
    bool tapKey(const QString &name);

    // ---- GPIO (/sys/class/gpio) ----
    struct GpioLine
    {
        bool exported = false;
        QString direction; // "in" or "out"; empty when not exported
        QString value;     // "0" or "1"; empty when not exported
    };
    std::optional<GpioLine> gpioLine(int line);

    // ---- Scenarios of the IOC, the flash tool and the board tools ----
    // key/value pairs, the same as boardsim's --set KEY=VALUE options: the
    // words of scenariowords.h, which `boardsim --help` lists.
    bool setScenario(const QString &key, const QString &value);
    std::optional<QString> scenario(const QString &key);

    // ---- Transcript ----
    // One object per operation, in order: {"t": ms since boardsim started (double),
    //  "pid": int, "op": "open"|"read"|"write"|"close"|"ioctl"|"exec"|...,
    //  "path": string, "bytes": exact bytes as a string (writes, reads of sysfs),
    //  "flags": open flags or "" , "result": 0 or -errno, "args": [..] (exec) }
    // Entries from index `from` on (all of them by default).
    std::optional<QVector<QJsonObject>> transcript(int from = 0);
    bool clearTranscript();
    // How many entries the transcript holds now.
    std::optional<int> transcriptCount();
    // Waits until the transcript no longer holds `knownCount` entries, or
    // `timeoutMs` passed; returns the count then. Lets a client follow the
    // transcript without polling.
    std::optional<int> waitForTranscript(int knownCount, int timeoutMs);

    // ---- The board's facts (boardfacts.h), as NAME -> VALUE ----
    // Its panel keys, GPIO lines by role and flash answer, as scripts read them.
    std::optional<QMap<QString, QString>> facts();

    // ---- Everything at once, for a panel that shows the board ----
    // {"position", "pending", "readers", "gone", "ioctlFails", "evdevRecordSize",
    //  "gpio": {"18": {"direction", "value"}, ...}, "scenario": {key: value},
    //  "usb": {"switched", "booted", "mounted"}, "transcriptCount"}
    std::optional<QJsonObject> state();

private:
    class Private;
    Private *d;
};
