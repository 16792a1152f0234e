#include "evdev/keypaddevice.h"

#include "panelkeys.h"

// A keypad wired to the SoC, as a platform driver (gpio-keys, matrix-keypad)
// registers it: on the host bus, with a physical path of the driver's name
// but no unique id, and key codes alone. No EV_REP: a held panel key must not
// repeat into the keyboard test, and no EV_MSC scan codes, which nothing on
// the board reads. No LEDs either, so EVIOCGLED answers all off.
EvdevDevice keypadDevice()
{
    EvdevDevice d;
    d.node = keypadNode;
    d.name = "boardsim front-panel keypad";
    d.id = {BUS_HOST, 0x0001, 0x0002, 0x0100};
    d.phys = "keypad/input0";
    for (const board::PanelKey &key : board::panelKeys())
        d.codes[EV_KEY].insert(unsigned(key.linuxKey));
    return d;
}
