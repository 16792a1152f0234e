// The encoder reader's decoding of the records it reads from its evdev node.
// Input: one byte (bit 0: a start position is known), the start position
// (two bytes, little-endian), then whole input_event records as read() hands
// them out; a short tail is dropped, as the reader drops a short read.
#include "fuzzcheck.h"
#include "rotaryencoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <linux/input.h>
#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    std::optional<quint16> reference;
    if (data[0] & 1)
        reference = quint16(data[1] | data[2] << 8);
    data += 3;
    size -= 3;

    for (; size >= sizeof(input_event); data += sizeof(input_event), size -= sizeof(input_event)) {
        input_event record;
        std::memcpy(&record, data, sizeof record);
        const std::optional<quint16> before = reference;
        short step = 0x5a5a;
        const bool counted = RotaryEncoder::decodeStep(record, reference, step);

        if (record.type != EV_ABS) {
            // No position: nothing counted, nothing moved.
            FUZZ_CHECK(!counted);
            FUZZ_CHECK(reference == before);
            FUZZ_CHECK(step == 0x5a5a);
            continue;
        }
        // Every position record becomes the reference, counted or not.
        FUZZ_CHECK(reference && *reference == quint16(uint32_t(record.value) & 0xFFFF));
        FUZZ_CHECK(counted == bool(before));
        if (!counted) {
            FUZZ_CHECK(step == 0x5a5a);
            continue;
        }
        // The step leads from the old reference to the new one modulo 65536,
        // and is the shorter way round: a turn never looks like 65535 detents.
        FUZZ_CHECK(quint16(*before + step) == *reference);
        FUZZ_CHECK(step >= -32768 && step <= 32767);
        const int ahead = (*reference - *before + 0x10000) % 0x10000;
        FUZZ_CHECK(step == (ahead < 0x8000 ? ahead : ahead - 0x10000));
    }
    return 0;
}
