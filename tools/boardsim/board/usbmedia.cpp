#include "board/usbmedia.h"

#include "board/scenario.h"
#include "boardtools.h"

#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Long enough that a product waiting 5 s gives up first.
constexpr int lateDelayMs = 8000;

} // namespace

UsbMedia::UsbMedia(const std::string &mediaDir, const Scenario &scenario)
    : m_dir(mediaDir), m_scenario(scenario)
{}

UsbMedia::~UsbMedia() = default;

void UsbMedia::setSwitched(bool onIoc)
{
    m_switched = onIoc;
    update();
}

void UsbMedia::setBooted(bool inLoader)
{
    m_booted = inLoader;
    update();
}

void UsbMedia::update()
{
    bool ready = m_switched && m_booted;
    if (!ready) {
        m_pending = false;
        removeAll();
        return;
    }
    if (m_pending || isMounted())
        return;
    int delay = m_scenario.get("ioc") == "late" ? lateDelayMs : m_scenario.getInt("ioc-delay-ms");
    m_pending = true;
    m_deadline = Clock::now() + std::chrono::milliseconds(delay);
}

void UsbMedia::onTimer()
{
    if (!m_pending || Clock::now() < m_deadline)
        return;
    m_pending = false;
    appear();
}

void UsbMedia::appear()
{
    const std::string ioc = m_scenario.get("ioc");
    if (ioc == "present" || ioc == "late") {
        addPartition("sda1", true);
    } else if (ioc == "upper") {
        addPartition("SDA1", true);
    } else if (ioc == "second") {
        // A card reader's empty medium came first; the IOC is the second disk.
        addPartition("sda1", false);
        addPartition("sdb1", true);
    }
    // "absent": the IOC never shows up as a disk.
}

void UsbMedia::addPartition(const std::string &name, bool withFirmware)
{
    std::string dir = m_dir + "/" + name;
    if (mkdir(dir.c_str(), 0755) != 0)
        return;
    m_created.push_back(dir);
    if (!withFirmware)
        return;
    if (FILE *f = std::fopen((dir + "/" + board::IocFirmwareFile).c_str(), "we")) {
        // Recognisable content; the product only checks that the file is there.
        for (int i = 0; i < 256; ++i)
            std::fputc(i, f);
        std::fclose(f);
    }
}

void UsbMedia::removeAll()
{
    for (const std::string &dir : m_created) {
        // Whatever a test put there too goes with the unplugged disk.
        if (DIR *d = opendir(dir.c_str())) {
            while (dirent *ent = readdir(d)) {
                std::string name = ent->d_name;
                if (name != "." && name != "..")
                    unlink((dir + '/').append(name).c_str());
            }
            closedir(d);
        }
        rmdir(dir.c_str());
    }
    m_created.clear();
}
