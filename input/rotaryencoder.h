#pragma once

#include <QMutex>
#include <QThread>

// Reads the front panel's rotary encoder from its evdev node and reports each
// change of position as a signed step.
class RotaryEncoder : public QThread
{
    Q_OBJECT
public:
    RotaryEncoder();
    ~RotaryEncoder() override;

    void stop();

signals:
    void value(short axis);

protected:
    void run() override;

private:
    bool m_stopped = false;
    QMutex m_mutex;
};
