#pragma once

#include <QString>

// The front panel's 31 keys as they reach the window: the keypad driver maps
// each key to a fixed Qt key code, and the keyboard test names and counts them
// by their index in this table.
namespace KeyTable {

constexpr int KeyCount = 31;

// Index of the panel key that sends `qtKey`, or -1 for a code the panel never sends.
int indexOf(int qtKey);

// The name the operator sees for key `index` (0 to KeyCount - 1).
QString name(int index);

} // namespace KeyTable
