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
    // ends it with a SYN_REPORT of its own. Returns the packet to hand on,
    // empty while none is complete.
    std::vector<EvdevEvent> handleEvent(unsigned type, unsigned code, int value);
    // A value handed on past these rules: the axis state follows, as the
    // input core would have kept it.
    void follow(unsigned type, unsigned code, int value);
    // An unplugged device loses the packet it was gathering.
    void dropPacket() { m_values.clear(); }

private:
    EvdevDevice m_device;
    std::vector<EvdevEvent> m_values; // the packet so far
};
