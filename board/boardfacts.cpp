#include "boardfacts.h"

#include "boardtools.h"
#include "gpiolines.h"
#include "panelkeys.h"

namespace board {

std::vector<std::string> factLines()
{
    std::string names, pcKeys;
    for (int i = 0; i < TestedKeyCount; ++i) {
        names += std::string(i ? " " : "") + panelKeys()[size_t(i)].name;
        pcKeys += std::string(i ? " " : "") + panelKeys()[size_t(i)].pcKey;
    }
    return {
        "panel_keys=" + names,
        "pc_keys=" + pcKeys,
        std::string("clear_pc_key=") + clearKey().pcKey,
        "danger_lamp_line=" + std::to_string(DangerLampLine),
        "danger_test_line=" + std::to_string(DangerTestLine),
        "beep_line=" + std::to_string(BeepLine),
        "alarm_sound_line=" + std::to_string(AlarmSoundLine),
        std::string("gpio_dir=") + GpioDir,
        std::string("flash_identification=") + FlashIdentification,
    };
}

} // namespace board
