#include "control/statejson.h"

#include "board/scenario.h"
#include "board/usbmedia.h"
#include "control/controldispatch.h"
#include "control/transcript.h"
#include "evdev/evdevfs.h"
#include "gpio/gpiofs.h"

#include <nlohmann/json.hpp>

std::string stateJson(const SimulatedBoard &board)
{
    using nlohmann::ordered_json;
    const EvdevFs &evdev = board.evdev;
    ordered_json gpio = ordered_json::object();
    for (int i = 0; i < GpioFs::lineCount; ++i) {
        const GpioFs::Line &l = board.gpio.line(i);
        if (l.exported)
            gpio[std::to_string(i)] = {{"direction", l.output ? "out" : "in"},
                                       {"value", l.high ? "1" : "0"}};
    }
    const UsbMedia &media = board.media;
    const ordered_json state = {{"position", board.evdev.device(encoderNode)->absinfo[ABS_X].value},
                                {"pending", evdev.pendingRecords(encoderNode)},
                                {"readers", evdev.readerCount(encoderNode)},
                                {"gone", evdev.isGone(encoderNode)},
                                {"ioctlFails", evdev.ioctlFails(encoderNode)},
                                {"evdevRecordSize", evdev.recordSize()},
                                {"gpio", gpio},
                                {"scenario", board.scenario.values()},
                                {"usb",
                                 {{"switched", media.isSwitched()},
                                  {"booted", media.isBooted()},
                                  {"mounted", media.isMounted()}}},
                                {"transcriptCount", board.transcript.count()},
                                {"transcriptDropped", board.transcript.dropped()}};
    return jsonLine(state);
}
