#pragma once

#include <cerrno>
#include <cstdint>

// EVIOCGRAB on one device (evdev_grab(), evdev_ungrab()): one open file may
// take the device's events to itself until it lets go or closes. Open files
// are named by a non-zero id.
class EvdevGrab
{
public:
    // 0, or -EBUSY while the device is grabbed, by this file or another.
    int grab(uint64_t file)
    {
        if (m_holder)
            return -EBUSY;
        m_holder = file;
        return 0;
    }
    // 0, or -EINVAL for a file that does not hold the grab.
    int ungrab(uint64_t file)
    {
        if (m_holder != file)
            return -EINVAL;
        m_holder = 0;
        return 0;
    }
    // evdev_events(): every open file gets a packet, or only the grabber.
    bool reaches(uint64_t file) const { return !m_holder || m_holder == file; }
    // evdev_disconnect(): the grab goes with the device.
    void release() { m_holder = 0; }

private:
    uint64_t m_holder = 0;
};
