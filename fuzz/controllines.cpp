// The simulator's control socket: request lines as the server cuts them out
// of what a client sends, split into words, looked up and dispatched to the
// board's handlers. Input: what one client sends, lines ended by '\n'.
#include "board/scenario.h"
#include "board/toolbox.h"
#include "board/usbmedia.h"
#include "control/controldispatch.h"
#include "control/controlserver.h"
#include "control/transcript.h"
#include "controlconnection.h"
#include "evdev/evdevdevice.h"
#include "evdev/evdevfs.h"
#include "evdev/keypaddevice.h"
#include "fuzzcheck.h"
#include "gpio/gpiofs.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Nothing the board does may touch this machine: the tools' links and the
// IOC's disk go to a directory that does not exist.
const std::string nowhere = "/nonexistent-boardsim-fuzz";

bool startsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Every argument travels as one word and comes back as it was.
void checkArgumentCoding(const std::vector<std::string> &words)
{
    std::string line;
    for (const std::string &word : words) {
        const std::string decoded = ControlConnection::decodeArg(word);
        const std::string encoded = ControlConnection::encodeArg(decoded);
        FUZZ_CHECK(ControlConnection::decodeArg(encoded) == decoded);
        FUZZ_CHECK(encoded.find_first_of(" \n") == std::string::npos);
        line += encoded + " ";
    }
    std::vector<std::string> again = ControlConnection::splitWords(line);
    FUZZ_CHECK(again.size() == words.size());
}

// A turn of many steps is served in slices of the loop's time; the harness
// has no loop, and the steps cost time, not coverage.
bool longTurn(const std::vector<std::string> &words)
{
    return words.size() == 2 && words[0] == "turn" && std::labs(std::atol(words[1].c_str())) > 256;
}

void checkReply(const std::vector<std::string> &words, const std::string &reply)
{
    FUZZ_CHECK(reply == "ok" || startsWith(reply, "ok ") || startsWith(reply, "error "));
    const bool transcript = !words.empty() && words[0] == "transcript" && startsWith(reply, "ok ");
    if (!words.empty() && words[0] == "facts" && startsWith(reply, "ok ")) {
        // "ok N" and exactly N lines, each NAME=VALUE.
        const size_t lines = size_t(std::count(reply.begin(), reply.end(), '\n'));
        FUZZ_CHECK(std::to_string(lines) == reply.substr(3, reply.find('\n') - 3));
        return;
    }
    if (!transcript) {
        // One line, whatever the request quoted: the client reads up to the line end.
        FUZZ_CHECK(reply.find('\n') == std::string::npos);
        if (!words.empty() && words[0] == "state" && startsWith(reply, "ok "))
            FUZZ_CHECK(nlohmann::json::accept(reply.substr(3)));
        return;
    }
    // "ok N" and exactly N lines, each one JSON object.
    size_t end = reply.find('\n');
    const long count = std::atol(reply.substr(3, end - 3).c_str());
    long lines = 0;
    while (end != std::string::npos) {
        const size_t next = reply.find('\n', end + 1);
        const std::string entry = reply.substr(end + 1, next - end - 1);
        FUZZ_CHECK(nlohmann::json::accept(entry));
        ++lines;
        end = next;
    }
    FUZZ_CHECK(lines == count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Transcript transcript;
    Scenario scenario;
    GpioFs gpio(transcript);
    EvdevFs evdev(transcript);
    evdev.addDevice(rotaryEncoderDevice(0));
    evdev.addDevice(keypadDevice());
    ToolBox tools(nowhere + "/bin", nowhere + "/boardsim-tool");
    UsbMedia media(nowhere + "/media", scenario);
    ControlServer server;
    ControlDispatch dispatch({transcript, scenario, gpio, evdev, tools, media}, server);

    const std::string input(reinterpret_cast<const char *>(data), size);
    size_t start = 0;
    while (start < input.size()) {
        const size_t nl = input.find('\n', start);
        if (nl == std::string::npos)
            break; // a line not ended yet is not served
        const std::string line = input.substr(start, nl - start);
        start = nl + 1;
        const std::vector<std::string> words = ControlConnection::splitWords(line);
        checkArgumentCoding(words);
        if (longTurn(words))
            continue;
        std::string reply;
        if (dispatch.handle(1, line, &reply))
            checkReply(words, reply);
    }
    dispatch.answerWaits(true);
    return 0;
}
