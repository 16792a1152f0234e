#pragma once

#include <array>
#include <string>

namespace board {

// One key of the instrument's front panel: the board's keypad driver reports it
// as `linuxKey`, which Qt's evdev keyboard handler, with its built-in keymap,
// turns into `qtKey`; a PC keyboard's `pcKey` (its X keysym) gives the same Qt
// key, so the check mode runs on a PC without a keymap of its own.
struct PanelKey
{
    const char *name; // the legend on the key, as the keyboard test shows it
    int qtKey;        // Qt::Key
    int linuxKey;     // KEY_* of <linux/input-event-codes.h>
    const char *pcKey;
};

// The keys the keyboard test counts; clear is not among them, since it begins
// the window's two-key shortcuts and never reaches the test.
constexpr int TestedKeyCount = 31;
constexpr int PanelKeyCount = TestedKeyCount + 1;

// Every key of the panel: the tested keys in the key table's order (the index
// the keyboard test counts by), then clear.
const std::array<PanelKey, PanelKeyCount> &panelKeys();
const PanelKey &clearKey();

// The index of the tested key that sends `qtKey`, -1 for a code no tested key sends.
int testedKeyIndex(int qtKey);
// The key named `name` (case does not matter), nullptr when the panel has none.
const PanelKey *findPanelKey(const std::string &name);

} // namespace board
