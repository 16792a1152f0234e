#include "evdev/evdevrecord.h"

#include <cstdint>
#include <cstring>
#include <linux/input.h>

namespace {

// struct input_event_compat of a 32-bit task: 32-bit tv_sec and tv_usec.
struct CompatRecord
{
    uint32_t sec;
    uint32_t usec;
    uint16_t type;
    uint16_t code;
    int32_t value;
};
static_assert(sizeof(CompatRecord) == 16, "a 32-bit reader's record has 16 bytes");

} // namespace

size_t evdevRecordSize(bool compat)
{
    return compat ? sizeof(CompatRecord) : sizeof(input_event);
}

std::string encodeEvdevRecord(const EvdevEvent &event, bool compat)
{
    if (compat) {
        const CompatRecord r{uint32_t(event.time.tv_sec), uint32_t(event.time.tv_usec), event.type,
                             event.code, event.value};
        return std::string(reinterpret_cast<const char *>(&r), sizeof(r));
    }
    input_event ev{};
    ev.input_event_sec = event.time.tv_sec;
    ev.input_event_usec = event.time.tv_usec;
    ev.type = event.type;
    ev.code = event.code;
    ev.value = event.value;
    return std::string(reinterpret_cast<const char *>(&ev), sizeof(ev));
}

EvdevEvent decodeEvdevRecord(const char *record, bool compat)
{
    if (compat) {
        CompatRecord r;
        std::memcpy(&r, record, sizeof(r));
        return {timeval{}, r.type, r.code, r.value};
    }
    input_event ev;
    std::memcpy(&ev, record, sizeof(ev));
    return {timeval{}, ev.type, ev.code, ev.value};
}
