#pragma once

#include <chrono>
#include <string>
#include <vector>

class Scenario;

// The IOC's mass-storage face: once the USB switch routes the IOC to the
// board ("usbswitch -i") and the IOC boots into its loader ("iocboot -i"),
// the automounter shows its partition under /run/media after a delay, laid
// out as the "ioc" scenario says. Either "-f" takes it away again.
class UsbMedia
{
public:
    using Clock = std::chrono::steady_clock;

    UsbMedia(const std::string &mediaDir, const Scenario &scenario);
    ~UsbMedia();

    void setSwitched(bool onIoc);
    void setBooted(bool inLoader);
    bool isSwitched() const { return m_switched; }
    bool isBooted() const { return m_booted; }
    bool isMounted() const { return !m_created.empty(); }

    bool hasDeadline() const { return m_pending; }
    Clock::time_point deadline() const { return m_deadline; }
    // Call when the deadline has passed.
    void onTimer();
    // Removes what appeared (at tear-down too).
    void removeAll();

private:
    void update();
    void appear();
    void addPartition(const std::string &name, bool withFirmware);

    std::string m_dir;
    const Scenario &m_scenario;
    bool m_switched = false;
    bool m_booted = false;
    bool m_pending = false;
    Clock::time_point m_deadline;
    std::vector<std::string> m_created;
};
