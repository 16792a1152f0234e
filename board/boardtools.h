#pragma once

#include <array>
#include <string>
#include <vector>

// The board tools on PATH and what the check mode relies on of them.
namespace board {

struct ToolCommand
{
    const char *program;
    std::array<const char *, 2> args; // nullptr after the last
};

constexpr char UsbSwitch[] = "usbswitch";
constexpr char IocBoot[] = "iocboot";
constexpr char Flash[] = "flash";

// Both tools are needed to bring the IOC onto USB ("-i") and to give it back ("-f").
constexpr ToolCommand UsbSwitchIn = {UsbSwitch, {"-i", nullptr}};
constexpr ToolCommand IocBootIn = {IocBoot, {"-i", nullptr}};
constexpr ToolCommand IocBootBack = {IocBoot, {"-f", nullptr}};
constexpr ToolCommand UsbSwitchBack = {UsbSwitch, {"-f", nullptr}};
// Prints the identification of the FPGA's flash device.
constexpr ToolCommand FlashRead = {Flash, {"-o", "rdid"}};
// The whole answer, white space around it aside, for the flash part the FPGA is fitted with.
constexpr char FlashIdentification[] = "Identification: 0xc22015";

// The command line as a shell or QProcess::splitCommand takes it, e.g. "usbswitch -i".
std::string commandLine(const ToolCommand &command);
std::vector<std::string> arguments(const ToolCommand &command);

// The automounter mounts USB storage here, one directory per partition named
// after its block device (sda1, sdb1, ...).
constexpr char UsbMountDir[] = "/run/media/";
// In the root of the IOC's file system.
constexpr char IocFirmwareFile[] = "firmware.bin";

} // namespace board
