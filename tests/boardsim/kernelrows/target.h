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

    // One line for the report: what plays the node and where it is.
    virtual std::string describe() const = 0;
    // The node's path now: a device that came back may have another number.
    virtual std::string node() const = 0;
    // The device's name, as EVIOCGNAME answers it.
    virtual std::string deviceName() const = 0;
    // One evdev record as the node hands it to this program: 24 bytes, 16 for a 32-bit task.
    virtual int recordSize() const = 0;
    // True where FUSE stands between the program and the node's answers.
    virtual bool throughFuse() const = 0;

    // Steps of one detent, each its own packet (ABS_X, SYN_REPORT); negative: back.
    virtual bool turn(int steps) = 0;
    // One packet that moves the axis to `position`.
    virtual bool turnTo(int position) = 0;
    // The axis at `position` with no reader to see it (between rows no node is open).
    virtual bool setPosition(int position) = 0;
    // Unplugs the device (evdev_disconnect), or plugs a new one in.
    virtual bool setGone(bool gone) = 0;

    // Why the last call failed.
    const std::string &lastError() const { return m_error; }

protected:
    bool fail(const std::string &why)
    {
        m_error = why;
        return false;
    }

private:
    std::string m_error;
};

// boardsim's FUSE nodes, driven through its control socket ($BOARDSIM_CONTROL).
std::unique_ptr<Target> boardsimTarget(std::string *error);
// A real kernel: a uinput device of this program's own, beside whatever else the machine runs.
std::unique_ptr<Target> uinputTarget(std::string *error);
