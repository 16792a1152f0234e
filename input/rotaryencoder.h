#pragma once

#include <QMutex>
#include <QThread>

#include <optional>

struct input_event;

// Reads the front panel's rotary encoder from its evdev node and reports each
// change of position as a signed step.
class RotaryEncoder : public QThread
{
    Q_OBJECT
public:
    RotaryEncoder();
    ~RotaryEncoder() override;

    void stop();

    // Turns one record read from the device into a step. Only EV_ABS records
    // carry a position (of any axis: the encoder's driver may report on
    // another code); every other record returns false and leaves `reference`
    // alone. An EV_ABS record moves `reference` to its position's low 16 bits
    // and returns true with `step` set to the change, taken modulo 65536 as a
    // signed 16-bit number, so a count that wraps still gives +1 or -1.
    // Without a reference yet there is nothing to count from: the record only
    // becomes the reference and the call returns false.
    static bool decodeStep(const input_event &record, std::optional<quint16> &reference,
                           short &step);

signals:
    void value(short axis);

protected:
    void run() override;

private:
    void wake();

    bool m_stopped = false;
    QMutex m_mutex;
    // Readable when the owner wants the reader back from its wait on the
    // device; see run() for why this and not a signal.
    int m_wakeFd = -1;
};
