#pragma once

#include "evdev/evdevclient.h"
#include "evdev/evdevdevice.h"

#include <vector>

// The input core between one device's driver and evdev (drivers/input/input.c):
// which of the driver's values go on, with the device's state kept, and when
// they leave for the handlers as a packet.
class InputCore
{
public:
    explicit InputCore(const EvdevDevice &device) : m_device(device) {}

    EvdevDevice &device() { return m_device; }
    const EvdevDevice &device() const { return m_device; }

    // input_handle_event(): values the device does not have or that change
    // nothing are dropped (input_get_disposition()); the rest gather until a
    // SYN_REPORT flushes them (a lone SYN_REPORT is no packet), or until the
    // packet would not fit the device's max_vals (hint + 2), when the core
    // ends it with a SYN_REPORT of its own. True when a packet is complete:
    // packet() holds it until the next value.
    bool handleEvent(unsigned type, unsigned code, int value);
    const std::vector<EvdevEvent> &packet() const { return m_values; }
    // A value handed on past these rules: the axis state follows, as the
    // input core would have kept it.
    void follow(unsigned type, unsigned code, int value);
    // An unplugged device loses the packet it was gathering.
    void dropPacket()
    {
        m_values.clear();
        m_complete = false;
    }

private:
    EvdevDevice m_device;
    // The packet so far; kept, not handed over, so that its memory is reused.
    std::vector<EvdevEvent> m_values;
    bool m_complete = false;
};
