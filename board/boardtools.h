#pragma once

#include <string>
#include <vector>

// The board tools on PATH and what the check mode relies on of them.
namespace board {

// Both tools are needed to bring the IOC onto USB ("-i") and to give it back ("-f").
constexpr char UsbSwitchIn[] = "usbswitch -i";
constexpr char IocBootIn[] = "iocboot -i";
constexpr char IocBootBack[] = "iocboot -f";
constexpr char UsbSwitchBack[] = "usbswitch -f";
// Prints the identification of the FPGA's flash device.
constexpr char FlashRead[] = "flash -o rdid";
// The whole answer, white space around it aside, for the flash part the FPGA is fitted with.
constexpr char FlashIdentification[] = "Identification: 0xc22015";

// The automounter mounts USB storage here, one directory per partition named
// after its block device (sda1, sdb1, ...).
constexpr char UsbMountDir[] = "/run/media/";
// In the root of the IOC's file system.
constexpr char IocFirmwareFile[] = "firmware.bin";

// A command line above split at its blanks: the program, then its arguments.
std::vector<std::string> commandWords(const char *commandLine);

} // namespace board
