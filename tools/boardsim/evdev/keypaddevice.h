#pragma once

#include "evdev/evdevdevice.h"

// The front panel's keypad as the board's kernel registers it: a key-only
// device that reports exactly the panel's keys (panelkeys.h).
constexpr char keypadNode[] = "event1";
EvdevDevice keypadDevice();
