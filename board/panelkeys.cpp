#include "panelkeys.h"

#include <linux/input-event-codes.h>
#include <strings.h>

namespace {

using board::PanelKey;

// Qt's key codes (<qnamespace.h>), spelled out since this library is built
// without Qt: printable keys are their Latin-1 character, F1 to F35 follow
// one another, and the others are Qt's special keys.
constexpr int qtF(int n)
{
    return 0x01000030 + n - 1;
}
constexpr int qtEscape = 0x01000000;
constexpr int qtBackspace = 0x01000003;
constexpr int qtReturn = 0x01000004;
constexpr int qtPause = 0x01000008;
constexpr int qtLeft = 0x01000012;
constexpr int qtRight = 0x01000014;
constexpr int qtScrollLock = 0x01000026;
constexpr int qtVolumeDown = 0x01000070;
constexpr int qtVolumeMute = 0x01000071;
constexpr int qtVolumeUp = 0x01000072;

// The index order is the order of the front panel's key matrix, which the
// keyboard test counts by: the soft keys, then "0" before "1" to "9".
constexpr std::array<PanelKey, board::PanelKeyCount> keys = {{
    {"F1", qtF(1), KEY_F1, "F1"},
    {"F2", qtF(2), KEY_F2, "F2"},
    {"F3", qtF(3), KEY_F3, "F3"},
    {"F4", qtF(4), KEY_F4, "F4"},
    {"F5", qtF(5), KEY_F5, "F5"},
    {"F6", qtF(6), KEY_F6, "F6"},
    {"F7", qtF(7), KEY_F7, "F7"},
    {"F8", qtF(8), KEY_F8, "F8"},
    {"F9", qtF(9), KEY_F9, "F9"},
    {"F10", qtF(10), KEY_F10, "F10"},
    // The main row's digits, not the keypad's, whose codes Qt would report
    // with the keypad modifier.
    {"0", '0', KEY_0, "0"},
    {"1", '1', KEY_1, "1"},
    {"2", '2', KEY_2, "2"},
    {"3", '3', KEY_3, "3"},
    {"4", '4', KEY_4, "4"},
    {"5", '5', KEY_5, "5"},
    {"6", '6', KEY_6, "6"},
    {"7", '7', KEY_7, "7"},
    {"8", '8', KEY_8, "8"},
    {"9", '9', KEY_9, "9"},
    {".", '.', KEY_DOT, "period"},
    {"Left", qtLeft, KEY_LEFT, "Left"},
    {"Right", qtRight, KEY_RIGHT, "Right"},
    {"Escape", qtEscape, KEY_ESC, "Escape"},
    // KEY_KPENTER would be Qt::Key_Enter, which the check mode does not know.
    {"Enter", qtReturn, KEY_ENTER, "Return"},
    // The panel's own keys borrow codes of keys a PC keyboard also has.
    {"Home", qtScrollLock, KEY_SCROLLLOCK, "Scroll_Lock"},
    {"Memory", qtF(12), KEY_F12, "F12"},
    {"Auto", qtVolumeDown, KEY_VOLUMEDOWN, "XF86AudioLowerVolume"},
    {"System", qtVolumeUp, KEY_VOLUMEUP, "XF86AudioRaiseVolume"},
    {"Start", qtVolumeMute, KEY_MUTE, "XF86AudioMute"},
    {"Stop", qtPause, KEY_PAUSE, "Pause"},
    {"clear", qtBackspace, KEY_BACKSPACE, "BackSpace"},
}};

} // namespace

const std::array<PanelKey, board::PanelKeyCount> &board::panelKeys()
{
    return keys;
}

const PanelKey &board::clearKey()
{
    return keys[TestedKeyCount];
}

int board::testedKeyIndex(int qtKey)
{
    for (int i = 0; i < TestedKeyCount; ++i) {
        if (keys[size_t(i)].qtKey == qtKey)
            return i;
    }
    return -1;
}

const PanelKey *board::findPanelKey(const std::string &name)
{
    for (const PanelKey &key : keys) {
        if (strcasecmp(key.name, name.c_str()) == 0)
            return &key;
    }
    return nullptr;
}
