#include "control/statejson.h"

#include "board/scenario.h"
#include "board/usbmedia.h"
#include "control/controldispatch.h"
#include "control/transcript.h"
#include "evdev/evdevfs.h"
#include "gpio/gpiofs.h"

namespace {

const char *boolText(bool b)
{
    return b ? "true" : "false";
}

} // namespace

std::string stateJson(const SimulatedBoard &board)
{
    const EvdevFs &evdev = board.evdev;
    const int position = board.evdev.device(encoderNode)->absinfo[ABS_X].value;
    std::string out = "{\"position\": " + std::to_string(position) +
                      ", \"pending\": " + std::to_string(evdev.pendingRecords(encoderNode)) +
                      ", \"readers\": " + std::to_string(evdev.readerCount(encoderNode)) +
                      ", \"gone\": " + boolText(evdev.isGone(encoderNode)) +
                      ", \"ioctlFails\": " + boolText(evdev.ioctlFails(encoderNode)) +
                      ", \"evdevRecordSize\": " + std::to_string(evdev.recordSize()) +
                      ", \"gpio\": {";
    bool first = true;
    for (int i = 0; i < GpioFs::lineCount; ++i) {
        const GpioFs::Line &l = board.gpio.line(i);
        if (!l.exported)
            continue;
        out += std::string(first ? "" : ", ") + "\"" + std::to_string(i) +
               "\": {\"direction\": \"" + (l.output ? "out" : "in") + "\", \"value\": \"" +
               (l.high ? "1" : "0") + "\"}";
        first = false;
    }
    out += "}, \"scenario\": {";
    first = true;
    for (const auto &kv : board.scenario.values()) {
        out += std::string(first ? "" : ", ") + "\"" + kv.first + "\": \"" + kv.second + "\"";
        first = false;
    }
    const UsbMedia &media = board.media;
    out += std::string("}, \"usb\": {\"switched\": ") + boolText(media.isSwitched()) +
           ", \"booted\": " + boolText(media.isBooted()) +
           ", \"mounted\": " + boolText(media.isMounted()) +
           "}, \"transcriptCount\": " + std::to_string(board.transcript.count()) +
           ", \"transcriptDropped\": " + std::to_string(board.transcript.dropped()) + "}";
    return out;
}
