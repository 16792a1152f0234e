#pragma once

// Where the kernel rows run. A target serves an evdev node with the encoder's capabilities
// (one ABS_X axis, endless), makes the input core pass events through it, and can unplug it;
// the sysfs GPIO files are at /sys/class/gpio on every target.

#include <memory>
#include <string>

class Target
{
public:
    virtual ~Target() = default;

    // Connects to the board, or plugs the device in; false with lastError set.
    virtual bool setUp() = 0;
    // The node's path now: a device that came back may have another number.
    virtual std::string node() const = 0;
    // Steps of one detent, each its own packet (ABS_X, SYN_REPORT); negative: back.
    virtual bool turn(int steps) = 0;
    // One packet that moves the axis to `position`.
    virtual bool turnTo(int position) = 0;
    // Unplugs the device (evdev_disconnect), or plugs a new one in.
    virtual bool setGone(bool gone) = 0;

    // One line for the report: what plays the node and where it is.
    std::string description;
    // The device's name, as EVIOCGNAME answers it.
    std::string deviceName;
    // One evdev record as the node hands it to this program: 24 bytes, 16 for a 32-bit task.
    int recordSize = 0;
    // True where FUSE stands between the program and the node's answers.
    bool throughFuse = false;
    // Why the last call failed.
    std::string lastError;

protected:
    bool fail(const std::string &why)
    {
        lastError = why;
        return false;
    }
};

// boardsim's FUSE nodes, driven through its control socket, when $BOARDSIM_CONTROL is set; else
// a real kernel: a uinput device of this program's own, beside whatever else the machine runs.
std::unique_ptr<Target> makeTarget();
