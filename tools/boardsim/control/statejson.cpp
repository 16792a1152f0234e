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
    // Member by member into place: initializer lists and copies would allocate
    // every value twice, which the sanitizer builds pay for dearly.
    nlohmann::ordered_json state;
    const EvdevFs &evdev = board.evdev;
    state["position"] = board.evdev.device(encoderNode)->absinfo[ABS_X].value;
    state["pending"] = evdev.pendingRecords(encoderNode);
    state["readers"] = evdev.readerCount(encoderNode);
    state["gone"] = evdev.isGone(encoderNode);
    state["ioctlFails"] = evdev.ioctlFails(encoderNode);
    state["evdevRecordSize"] = evdev.recordSize();
    auto &gpio = state["gpio"] = nlohmann::ordered_json::object();
    for (int i = 0; i < GpioFs::lineCount; ++i) {
        const GpioFs::Line &l = board.gpio.line(i);
        if (!l.exported)
            continue;
        auto &line = gpio[std::to_string(i)];
        line["direction"] = l.output ? "out" : "in";
        line["value"] = l.high ? "1" : "0";
    }
    state["scenario"] = board.scenario.values();
    auto &usb = state["usb"];
    usb["switched"] = board.media.isSwitched();
    usb["booted"] = board.media.isBooted();
    usb["mounted"] = board.media.isMounted();
    state["transcriptCount"] = board.transcript.count();
    state["transcriptDropped"] = board.transcript.dropped();
    return jsonLine(state);
}
