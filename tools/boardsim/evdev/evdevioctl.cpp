#include "evdev/evdevioctl.h"

#include "evdev/evdevclient.h"
#include "evdev/evdevdevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/input.h>
#include <map>
#include <set>
#include <vector>

namespace {

template <typename T> EvdevIoctlAnswer value(const T &v, int result = 0)
{
    return {result, std::string(reinterpret_cast<const char *>(&v), sizeof(v))};
}

EvdevIoctlAnswer failure(int error)
{
    return {-error, std::string()};
}

// bits_to_user(): the bitmap up to `maxbit` in whole longs of the caller's
// ABI, cut to the caller's buffer; the result is the length copied.
EvdevIoctlAnswer bitsToUser(const std::set<unsigned> &bits, unsigned maxbit, unsigned maxlen,
                            bool compat)
{
    const unsigned longBits = compat ? 32 : 8 * sizeof(long);
    const unsigned longs = compat ? (maxbit - 1) / 32 + 1 : (maxbit + longBits - 1) / longBits;
    std::string out(std::min(longs * longBits / 8, maxlen), '\0');
    for (unsigned bit : bits) {
        if (bit / 8 < out.size())
            out[bit / 8] = char(out[bit / 8] | (1 << (bit % 8)));
    }
    return {int(out.size()), out};
}

// str_to_user(): ENOENT for a string the device does not have.
EvdevIoctlAnswer strToUser(const std::optional<std::string> &s, unsigned maxlen)
{
    if (!s)
        return failure(ENOENT);
    std::string bytes(s->c_str(), s->size() + 1);
    bytes.resize(std::min<size_t>(bytes.size(), maxlen));
    return {int(bytes.size()), bytes};
}

const std::set<unsigned> &codesOf(const EvdevDevice &device, unsigned type)
{
    static const std::set<unsigned> none;
    auto it = device.codes.find(type);
    return it == device.codes.end() ? none : it->second;
}

// handle_eviocgbit(): EVIOCGBIT(0) gives the event types, the others the
// codes of one type; types without a bitmap (EV_REP, EV_PWR...) are EINVAL.
EvdevIoctlAnswer eventBits(const EvdevDevice &device, unsigned type, unsigned size, bool compat)
{
    static const std::map<unsigned, unsigned> highestCode = {
        {EV_KEY, KEY_MAX}, {EV_REL, REL_MAX}, {EV_ABS, ABS_MAX}, {EV_MSC, MSC_MAX},
        {EV_LED, LED_MAX}, {EV_SND, SND_MAX}, {EV_FF, FF_MAX},   {EV_SW, SW_MAX},
    };
    if (type == 0) {
        std::set<unsigned> types = {EV_SYN};
        for (const auto &kv : device.codes)
            types.insert(kv.first);
        return bitsToUser(types, EV_MAX, size, compat);
    }
    const auto it = highestCode.find(type);
    if (it == highestCode.end())
        return failure(EINVAL);
    return bitsToUser(codesOf(device, type), it->second, size, compat);
}

// evdev_handle_get_val(): the state of one type; the client's queued events
// of that type go, so that it does not see them twice.
EvdevIoctlAnswer stateOf(EvdevDevice &device, EvdevClient &client, unsigned type, unsigned maxbit,
                         unsigned size, bool compat)
{
    client.flushType(type);
    return bitsToUser(device.state[type], maxbit, size, compat);
}

} // namespace

EvdevIoctlAnswer evdevIoctl(EvdevDevice &device, EvdevClient &client, unsigned cmd,
                            const std::string &in, bool compat)
{
    // The requests of a fixed size first.
    switch (cmd) {
    case EVIOCGVERSION:
        return value(int(EV_VERSION));
    case EVIOCGID:
        return value(device.id);
    case EVIOCGREP:
    case EVIOCSREP:
        // No EV_REP; FUSE hands ENOSYS to the caller as ENOTTY (fuse_send_ioctl()).
        return failure(ENOSYS);
    case EVIOCGEFFECTS:
        return value(int(0)); // no EV_FF
    case EVIOCSCLOCKID: {
        int clock = 0;
        if (in.size() < sizeof(clock))
            return failure(EFAULT);
        std::memcpy(&clock, in.data(), sizeof(clock));
        return client.setClock(clockid_t(clock)) ? EvdevIoctlAnswer() : failure(EINVAL);
    }
    // No keymap: input_get_keycode() and input_set_keycode() find no
    // keycodesize. Event masks point at a second user buffer, which FUSE
    // cannot reach.
    case EVIOCGKEYCODE:
    case EVIOCSKEYCODE:
    case EVIOCGKEYCODE_V2:
    case EVIOCSKEYCODE_V2:
    case EVIOCGMASK:
    case EVIOCSMASK:
        return failure(EINVAL);
    }

    const unsigned size = _IOC_SIZE(cmd);
    switch (cmd & ~(_IOC_SIZEMASK << _IOC_SIZESHIFT)) {
    case EVIOCGPROP(0):
        return bitsToUser(device.properties, INPUT_PROP_MAX, size, compat);
    case EVIOCGMTSLOTS(0):
        return failure(EINVAL); // no multi-touch slots
    case EVIOCGKEY(0):
        return stateOf(device, client, EV_KEY, KEY_MAX, size, compat);
    case EVIOCGLED(0):
        return stateOf(device, client, EV_LED, LED_MAX, size, compat);
    case EVIOCGSND(0):
        return stateOf(device, client, EV_SND, SND_MAX, size, compat);
    case EVIOCGSW(0):
        return stateOf(device, client, EV_SW, SW_MAX, size, compat);
    case EVIOCGNAME(0):
        return strToUser(device.name, size);
    case EVIOCGPHYS(0):
        return strToUser(device.phys, size);
    case EVIOCGUNIQ(0):
        return strToUser(device.uniq, size);
    case EVIOCSFF & ~(_IOC_SIZEMASK << _IOC_SIZESHIFT):
        // input_ff_upload() on a device without EV_FF.
        return failure(size == sizeof(ff_effect) ? ENOSYS : EINVAL);
    }

    if (_IOC_TYPE(cmd) != 'E')
        return failure(EINVAL);
    const unsigned nr = _IOC_NR(cmd);
    if (_IOC_DIR(cmd) == _IOC_READ) {
        if ((nr & ~EV_MAX) == _IOC_NR(EVIOCGBIT(0, 0)))
            return eventBits(device, nr & EV_MAX, size, compat);
        if ((nr & ~ABS_MAX) == _IOC_NR(EVIOCGABS(0))) {
            if (device.absinfo.empty())
                return failure(EINVAL); // a device without absolute axes
            auto it = device.absinfo.find(nr & ABS_MAX);
            const input_absinfo abs = it == device.absinfo.end() ? input_absinfo{} : it->second;
            EvdevIoctlAnswer answer = value(abs);
            answer.bytes.resize(std::min<size_t>(size, sizeof(abs)));
            return answer;
        }
    }
    if (_IOC_DIR(cmd) == _IOC_WRITE && (nr & ~ABS_MAX) == _IOC_NR(EVIOCSABS(0))) {
        const unsigned axis = nr & ABS_MAX;
        if (device.absinfo.empty() || axis == ABS_MT_SLOT)
            return failure(EINVAL);
        input_absinfo abs{};
        std::memcpy(&abs, in.data(), std::min(in.size(), sizeof(abs)));
        if (size < sizeof(abs))
            abs.resolution = 0;
        device.absinfo[axis] = abs;
        return EvdevIoctlAnswer();
    }
    return failure(EINVAL);
}
