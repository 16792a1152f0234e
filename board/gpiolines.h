#pragma once

#include <array>
#include <string>

// The board's GPIO lines, driven through the kernel's sysfs GPIO interface.
namespace board {

constexpr char GpioDir[] = "/sys/class/gpio";
// Writing a line's number here makes the kernel create its gpioN directory
// beside it at once, with `direction` and `value` in it.
constexpr char GpioExport[] = "/sys/class/gpio/export";
// The files of line `line` (its number in decimal, or any text to put in its place).
std::string gpioDirectionPath(const std::string &line);
std::string gpioValuePath(const std::string &line);
std::string gpioDirectionPath(int line);
std::string gpioValuePath(int line);

// The lines by their role on the board.
constexpr int DangerLampLine = 132;
// Must follow the danger lamp, so that the lamp's circuit can be tested.
constexpr int DangerTestLine = 29;
// The board sounds the buzzer on every write to it.
constexpr int BeepLine = 128;
constexpr int AlarmSoundLine = 129;
// No role the check mode knows; it drives the line high at start.
constexpr int StartHighLine = 18;

// The lines the check mode exports and makes outputs at start, in this order;
// the danger lamp's line follows on its own once line 18 is high.
constexpr std::array<int, 19> StartupExports = {18, 29, 49,  50,  51,  54,  55,  56,  60, 62,
                                                63, 65, 111, 112, 113, 114, 115, 116, 117};
// The lines the board's init scripts export before the check mode starts.
constexpr std::array<int, 2> BoardExports = {BeepLine, AlarmSoundLine};

} // namespace board
