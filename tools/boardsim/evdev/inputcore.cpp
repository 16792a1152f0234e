#include "evdev/inputcore.h"

namespace {

// A key, LED, sound or switch that is set to what it is already is no change.
bool change(std::set<unsigned> &on, unsigned code, bool value)
{
    if ((on.count(code) > 0) == value)
        return false;
    if (value)
        on.insert(code);
    else
        on.erase(code);
    return true;
}

// input_get_disposition() for the types these devices can have: whether the
// input core passes the value on, with the device's state updated.
bool inputCoreTakes(EvdevDevice &device, unsigned type, unsigned code, int value)
{
    if (type == EV_SYN)
        return true;
    if (!device.supports(type, code))
        return false;
    switch (type) {
    case EV_KEY:
        // 2 (autorepeat) only for a key held down.
        if (value == 2)
            return device.state[EV_KEY].count(code) > 0;
        return change(device.state[EV_KEY], code, value != 0);
    case EV_SW:
    case EV_LED:
    case EV_SND:
        return change(device.state[type], code, value != 0);
    case EV_ABS: {
        // input_handle_abs_change(): the same position again is dropped.
        input_absinfo &abs = device.absinfo[code];
        if (abs.value == value)
            return false;
        abs.value = value;
        return true;
    }
    case EV_REL:
        return value != 0;
    default:
        return true;
    }
}

} // namespace

bool InputCore::handleEvent(unsigned type, unsigned code, int value)
{
    if (m_complete)
        dropPacket();
    if (!inputCoreTakes(m_device, type, code, value))
        return false;
    m_values.push_back({timeval{}, uint16_t(type), uint16_t(code), int32_t(value)});
    if (type == EV_SYN && code == SYN_REPORT) {
        m_complete = m_values.size() >= 2;
        if (!m_complete)
            m_values.clear();
    } else if (m_values.size() >= m_device.eventsPerPacket()) {
        m_values.push_back({timeval{}, EV_SYN, SYN_REPORT, 0});
        m_complete = true;
    }
    return m_complete;
}

void InputCore::follow(unsigned type, unsigned code, int value)
{
    if (type == EV_ABS && m_device.absinfo.count(code))
        m_device.absinfo[code].value = value;
}
