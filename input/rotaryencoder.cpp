#include "rotaryencoder.h"

// Placeholder until the reader lands: the thread ends at once.
RotaryEncoder::RotaryEncoder() = default;

RotaryEncoder::~RotaryEncoder()
{
    stop();
    wait();
}

void RotaryEncoder::stop()
{
    QMutexLocker locker(&m_mutex);
    m_stopped = true;
}

void RotaryEncoder::run() {}
