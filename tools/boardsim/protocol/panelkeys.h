#pragma once

#include <string>
#include <vector>

// The front panel's keys as the board's keypad driver reports them on
// /dev/input/event1. Each Linux key code is the one that Qt's evdev keyboard
// handler, with its built-in keymap, turns into the Qt key the check mode
// expects for that key, so the board needs no keymap file. The simulator's
// keypad advertises exactly these codes; boardsim-ctl, the client library and
// the panel name keys as here.
struct PanelKey
{
    const char *name; // as printed on the panel
    int code;         // KEY_* of <linux/input-event-codes.h>
};

// Every key of the panel, in the order of its rows.
const std::vector<PanelKey> &panelKeys();
// The key named `name` (case does not matter), nullptr when there is none.
const PanelKey *findPanelKey(const std::string &name);
// The edges a "key" command asks for: "press", "release" or "tap" (a press,
// then a release). False for any other word.
bool panelKeyEdges(const std::string &action, bool *press, bool *release);
