#include "keytable.h"

#include <Qt>
#include <array>

namespace {

struct PanelKey
{
    int code;
    const char *name;
};

// Index order is the order of the front panel's key matrix; the names are the
// legends printed on the keys (the panel's Home, Memory, Auto, System and Start
// keys borrow Qt codes of keys a PC keyboard also has).
constexpr std::array<PanelKey, KeyTable::KeyCount> Keys = {{
    {Qt::Key_F1, "F1"},
    {Qt::Key_F2, "F2"},
    {Qt::Key_F3, "F3"},
    {Qt::Key_F4, "F4"},
    {Qt::Key_F5, "F5"},
    {Qt::Key_F6, "F6"},
    {Qt::Key_F7, "F7"},
    {Qt::Key_F8, "F8"},
    {Qt::Key_F9, "F9"},
    {Qt::Key_F10, "F10"},
    {Qt::Key_0, "0"},
    {Qt::Key_1, "1"},
    {Qt::Key_2, "2"},
    {Qt::Key_3, "3"},
    {Qt::Key_4, "4"},
    {Qt::Key_5, "5"},
    {Qt::Key_6, "6"},
    {Qt::Key_7, "7"},
    {Qt::Key_8, "8"},
    {Qt::Key_9, "9"},
    {Qt::Key_Period, "."},
    {Qt::Key_Left, "Left"},
    {Qt::Key_Right, "Right"},
    {Qt::Key_Escape, "Escape"},
    {Qt::Key_Return, "Enter"},
    {Qt::Key_ScrollLock, "Home"},
    {Qt::Key_F12, "Memory"},
    {Qt::Key_VolumeDown, "Auto"},
    {Qt::Key_VolumeUp, "System"},
    {Qt::Key_VolumeMute, "Start"},
    {Qt::Key_Pause, "Stop"},
}};

} // namespace

int KeyTable::indexOf(int qtKey)
{
    for (int i = 0; i < KeyCount; ++i) {
        if (Keys[size_t(i)].code == qtKey)
            return i;
    }
    return -1;
}

QString KeyTable::name(int index)
{
    if (index < 0 || index >= KeyCount)
        return QString();
    return QString::fromLatin1(Keys[size_t(index)].name);
}
