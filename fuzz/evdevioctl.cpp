// The simulator's answers to evdev ioctls (evdev_do_ioctl()), and the
// per-file event ring they flush (__evdev_flush_queue()), driven by a
// sequence of operations on one open file of the encoder or the keypad.
// Input: one byte (bit 0: keypad, bit 1: a 32-bit caller), then operations,
// each one byte and its arguments:
//   0  an ioctl: a request built from 4 bytes, then _IOC_SIZE bytes of
//      argument for a request that writes (zeros where the input ends)
//   1  a batch of up to 15 events from the input core, 5 bytes each
//   2  one event read from the ring
//   3  a key, LED, sound or switch turned on or off in the device's state
#include "evdev/evdevioctl.h"
#include "evdev/evdevclient.h"
#include "evdev/evdevdevice.h"
#include "evdev/keypaddevice.h"
#include "fuzzcheck.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <linux/input.h>
#include <set>
#include <string>
#include <vector>

namespace {

struct Input
{
    const uint8_t *data;
    size_t size;
    bool empty() const { return size == 0; }
    uint8_t byte()
    {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
    uint16_t word() { return uint16_t(byte() | byte() << 8); }
    uint32_t dword() { return uint32_t(word()) | uint32_t(word()) << 16; }
};

// What a copy of the ring gives a reader now: only whole packets.
std::vector<EvdevEvent> readable(EvdevClient client)
{
    std::vector<EvdevEvent> out;
    EvdevEvent event{};
    while (client.fetch(&event))
        out.push_back(event);
    return out;
}

void checkRing(const EvdevClient &client, unsigned bufferSize)
{
    // head == tail is an empty ring, so one slot always stays free.
    FUZZ_CHECK(client.unread() < bufferSize);
    const std::vector<EvdevEvent> events = readable(client);
    FUZZ_CHECK(events.size() <= client.unread());
    FUZZ_CHECK(client.hasPacket() == !events.empty());
    // The input core never hands on an empty packet, and a flush leaves none.
    for (size_t i = 1; i < events.size(); ++i) {
        const bool report = events[i].type == EV_SYN && events[i].code == SYN_REPORT;
        const bool afterReport = events[i - 1].type == EV_SYN && events[i - 1].code == SYN_REPORT;
        FUZZ_CHECK(!(report && afterReport));
    }
}

unsigned stateTypeOf(unsigned nr)
{
    switch (nr) {
    case _IOC_NR(EVIOCGKEY(0)):
        return EV_KEY;
    case _IOC_NR(EVIOCGLED(0)):
        return EV_LED;
    case _IOC_NR(EVIOCGSND(0)):
        return EV_SND;
    case _IOC_NR(EVIOCGSW(0)):
        return EV_SW;
    }
    return 0;
}

void ioctl(Input &in, EvdevDevice &device, EvdevClient &client, bool compat)
{
    const uint8_t how = in.byte();
    unsigned cmd;
    if (how & 1) {
        cmd = in.dword();
    } else {
        // Mostly evdev's own requests, of any direction and size.
        const unsigned type = (how & 2) ? in.byte() : 'E';
        const unsigned nr = in.byte();
        const unsigned size = in.word() & _IOC_SIZEMASK;
        cmd = _IOC((how >> 2) & 3u, type, nr, size);
    }
    const unsigned size = _IOC_SIZE(cmd);
    // FUSE copies the caller's argument for requests that write, and only those.
    std::string argument;
    if (_IOC_DIR(cmd) & _IOC_WRITE) {
        argument.resize(size, '\0');
        for (size_t i = 0; i < size && !in.empty(); ++i)
            argument[i] = char(in.byte());
    }

    const EvdevIoctlAnswer answer = evdevIoctl(device, client, cmd, argument, compat);

    if (answer.result < 0) {
        const int error = -answer.result;
        FUZZ_CHECK(error == EINVAL || error == ENOENT || error == ENOSYS || error == EFAULT);
        FUZZ_CHECK(answer.bytes.empty());
        return;
    }
    // Nothing goes back that the caller's buffer cannot hold, and only to a
    // request that reads; a length result is the length copied.
    if (_IOC_DIR(cmd) & _IOC_READ)
        FUZZ_CHECK(answer.bytes.size() <= size);
    else
        FUZZ_CHECK(answer.bytes.empty());
    if (answer.result > 0)
        FUZZ_CHECK(size_t(answer.result) == answer.bytes.size());
    // A state request took that type's events out of the queue.
    if (_IOC_DIR(cmd) == _IOC_READ && _IOC_TYPE(cmd) == 'E') {
        if (const unsigned type = stateTypeOf(_IOC_NR(cmd))) {
            for (const EvdevEvent &event : readable(client))
                FUZZ_CHECK(event.type != type);
        }
    }
}

void passBatch(Input &in, EvdevClient &client)
{
    static const uint16_t types[] = {EV_SYN, EV_KEY, EV_ABS, EV_LED, EV_SND, EV_SW, EV_MSC};
    const unsigned count = in.byte() % 16;
    std::vector<EvdevEvent> values;
    for (unsigned i = 0; i < count && !in.empty(); ++i) {
        const uint8_t t = in.byte();
        EvdevEvent event{};
        event.type = t < 224 ? types[t % 7] : uint16_t(t);
        event.code = uint16_t(in.byte() | (t & 3) << 8);
        event.value = int32_t(in.byte()) - 128; // small steps either way
        in.word();
        values.push_back(event);
    }
    client.passValues(values, EvdevTimes{});
    // A batch that ends a packet leaves nothing half-done to the reader.
    if (!values.empty() && values.back().type == EV_SYN && values.back().code == SYN_REPORT)
        FUZZ_CHECK(readable(client).size() == client.unread());
}

void toggleState(Input &in, EvdevDevice &device)
{
    static const unsigned types[] = {EV_KEY, EV_LED, EV_SND, EV_SW};
    const uint8_t t = in.byte();
    const unsigned code = in.word() & 0x3ff;
    std::set<unsigned> &on = device.state[types[t % 4]];
    if (!on.erase(code))
        on.insert(code);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in{data, size};
    const uint8_t setup = in.byte();
    EvdevDevice device = (setup & 1) ? keypadDevice() : rotaryEncoderDevice(0);
    const bool compat = setup & 2;
    const unsigned bufferSize = device.bufferSize();
    EvdevClient client(bufferSize);

    while (!in.empty()) {
        switch (in.byte() % 4) {
        case 0:
            ioctl(in, device, client, compat);
            break;
        case 1:
            passBatch(in, client);
            break;
        case 2: {
            EvdevEvent event{};
            client.fetch(&event);
            break;
        }
        case 3:
            toggleState(in, device);
            break;
        }
        checkRing(client, bufferSize);
    }
    return 0;
}
