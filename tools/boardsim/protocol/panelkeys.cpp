#include "panelkeys.h"

#include <linux/input-event-codes.h>
#include <strings.h>

namespace {

const std::vector<PanelKey> keys = {
    // The soft keys.
    {"F1", KEY_F1},
    {"F2", KEY_F2},
    {"F3", KEY_F3},
    {"F4", KEY_F4},
    {"F5", KEY_F5},
    {"F6", KEY_F6},
    {"F7", KEY_F7},
    {"F8", KEY_F8},
    {"F9", KEY_F9},
    {"F10", KEY_F10},
    // The number block: the main row's digits, not the keypad's, whose
    // codes Qt would report with the keypad modifier.
    {"1", KEY_1},
    {"2", KEY_2},
    {"3", KEY_3},
    {"4", KEY_4},
    {"5", KEY_5},
    {"6", KEY_6},
    {"7", KEY_7},
    {"8", KEY_8},
    {"9", KEY_9},
    {"0", KEY_0},
    {".", KEY_DOT},
    {"Left", KEY_LEFT},
    {"Right", KEY_RIGHT},
    {"Escape", KEY_ESC},
    // Qt::Key_Return, which the check mode names "Enter"; KEY_KPENTER would
    // be Qt::Key_Enter, which it does not know.
    {"Enter", KEY_ENTER},
    // The function keys, on codes whose Qt keys the check mode expects.
    {"Home", KEY_SCROLLLOCK},
    {"Memory", KEY_F12},
    {"Auto", KEY_VOLUMEDOWN},
    {"System", KEY_VOLUMEUP},
    {"Start", KEY_MUTE},
    {"Stop", KEY_PAUSE},
    // Qt::Key_Backspace: begins the check mode's two-key shortcuts.
    {"clear", KEY_BACKSPACE},
};

} // namespace

const std::vector<PanelKey> &panelKeys()
{
    return keys;
}

const PanelKey *findPanelKey(const std::string &name)
{
    for (const PanelKey &key : keys) {
        if (strcasecmp(key.name, name.c_str()) == 0)
            return &key;
    }
    return nullptr;
}

bool panelKeyEdges(const std::string &action, bool *press, bool *release)
{
    *press = action == "press" || action == "tap";
    *release = action == "release" || action == "tap";
    return *press || *release;
}
