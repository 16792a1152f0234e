#include "evdev/evdevdevice.h"

#include <algorithm>
#include <climits>

bool EvdevDevice::supports(unsigned type) const
{
    return type == EV_SYN || codes.count(type) > 0;
}

bool EvdevDevice::supports(unsigned type, unsigned code) const
{
    auto it = codes.find(type);
    return it != codes.end() && it->second.count(code) > 0;
}

// The encoder and the keypad have no multi-touch axes, so mt_slots is 0:
// one SYN_REPORT, one event per absolute and relative axis, and room for
// seven KEY and MSC events.
unsigned EvdevDevice::eventsPerPacket() const
{
    unsigned events = 1;
    for (unsigned type : {unsigned(EV_ABS), unsigned(EV_REL)}) {
        auto it = codes.find(type);
        if (it != codes.end())
            events += unsigned(it->second.size());
    }
    return events + 7;
}

// Eight packets, at least 64 events, rounded up to a power of two.
unsigned EvdevDevice::bufferSize() const
{
    const unsigned events = std::max(eventsPerPacket() * 8, 64u);
    unsigned size = 1;
    while (size < events)
        size <<= 1;
    return size;
}

// An endless knob that counts detents since power-on: an absolute axis
// without limits (INT_MIN..INT_MAX), no fuzz, as the input core would swallow
// a change within the fuzz and every detent must reach the reader, no flat
// zone (that is for joysticks) and no resolution (a knob has no unit per mm).
// No physical path or unique id: a platform device has neither.
EvdevDevice rotaryEncoderDevice(int position)
{
    EvdevDevice d;
    d.node = encoderNode;
    d.name = "boardsim rotary encoder";
    d.id = {BUS_HOST, 0x0001, 0x0001, 0x0100};
    d.codes[EV_ABS] = {ABS_X};
    d.absinfo[ABS_X] = {position, INT_MIN, INT_MAX, 0, 0, 0};
    return d;
}
