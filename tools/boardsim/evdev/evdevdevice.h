#pragma once

#include <linux/input.h>
#include <map>
#include <optional>
#include <set>
#include <string>

// What an input driver registers with the input core, and all that evdev's
// ioctls report about it: one of these describes each simulated node under
// /dev/input. Adding a node to the board is adding one description.
struct EvdevDevice
{
    std::string node; // the file under /dev/input, e.g. "event0"
    std::string name; // EVIOCGNAME
    input_id id{};    // EVIOCGID
    // EVIOCGPHYS / EVIOCGUNIQ; a device without one answers ENOENT.
    std::optional<std::string> phys;
    std::optional<std::string> uniq;
    std::set<unsigned> properties; // INPUT_PROP_*, EVIOCGPROP
    // Codes per event type (EVIOCGBIT); EV_SYN is implied, as the input
    // core sets it for every device it registers.
    std::map<unsigned, std::set<unsigned>> codes;
    std::map<unsigned, input_absinfo> absinfo; // per EV_ABS axis, EVIOCGABS
    // What is on now per EV_KEY, EV_LED, EV_SND and EV_SW (EVIOCGKEY...).
    std::map<unsigned, std::set<unsigned>> state;

    bool supports(unsigned type) const;
    bool supports(unsigned type, unsigned code) const;
    // input_estimate_events_per_packet(): the input core's hint for evdev.
    unsigned eventsPerPacket() const;
    // evdev_compute_buffer_size(): every client's buffer, in events.
    unsigned bufferSize() const;
};

// The front panel's rotary encoder as the board's kernel registers it.
constexpr char encoderNode[] = "event0";
EvdevDevice rotaryEncoderDevice(int position);
