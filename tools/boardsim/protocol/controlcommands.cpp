#include "controlcommands.h"

#include "panelkeys.h"

#include <cstdio>
#include <iterator>

namespace {

using C = ControlCommand;

constexpr ControlCommandSpec entries[] = {
    {C::Ping, "ping", 0, 0, "", "answers \"boardsim\"", false, false},
    {C::Turn, "turn", 1, 1, "N", "turn the encoder N steps (negative: back), |N| <= 1000000", false,
     false},
    {C::TurnTo, "turn-to", 1, 1, "P", "move the encoder to P in one record", false, false},
    {C::Record, "record", 3, 3, "TYPE CODE VALUE", "queue one raw record on event0", false, false},
    {C::SetPosition, "set-position", 1, 1, "P", "set the axis without a record", false, false},
    {C::Position, "position", 0, 0, "", "the encoder's position", false, false},
    {C::Pending, "pending", 0, 0, "", "records no reader of event0 has read", false, false},
    {C::IoctlFails, "ioctl-fails", 1, 1, "on|off", "event0's ioctls fail with ENOTTY", false,
     false},
    {C::Gone, "gone", 1, 1, "on|off", "event0 is unplugged / plugged in again", false, false},
    {C::Gpio, "gpio", 1, 1, "N", "line N: \"out 1\", \"in 0\" or \"unexported\"", false, false},
    {C::Set, "set", 1, 1, "KEY=VALUE", "switch a scenario (as boardsim --set)", false, false},
    {C::Get, "get", 1, 1, "KEY", "a scenario's value", false, false},
    {C::Scenario, "scenario", 0, 0, "", "every scenario as KEY=VALUE", false, false},
    {C::State, "state", 0, 0, "", "the whole board as one JSON object", false, false},
    {C::Transcript, "transcript", 0, 1, "[FROM]", "transcript entries from FROM on", true, false},
    {C::TranscriptCount, "transcript-count", 0, 0, "", "how many entries it holds", false, false},
    {C::ClearTranscript, "clear-transcript", 0, 0, "", "empty the transcript", false, false},
    {C::WaitTranscript, "wait-transcript", 2, 2, "KNOWN_COUNT TIMEOUT_MS",
     "the count, once it differs from KNOWN_COUNT or at the time-out", false, true},
    {C::Key, "key", 2, 2, "press|release|tap NAME",
     "a panel key on event1 (F1, 0, ., Left, Enter, Home, Stop, clear...)", false, false},
    {C::Facts, "facts", 0, 0, "", "the board's keys, lines and flash answer as NAME=VALUE", true,
     false},
    {C::Exec, "exec", 2, anyArgs, "PID NAME [ARG...]", nullptr, false, false},
    {C::Act, "act", 1, anyArgs, "NAME [ARG...]", nullptr, false, false},
};

// Entry i describes command i, so that a look-up by id is an index.
constexpr bool inEnumOrder()
{
    for (size_t i = 0; i < sizeof(entries) / sizeof(entries[0]); ++i) {
        if (size_t(entries[i].id) != i)
            return false;
    }
    return true;
}
static_assert(inEnumOrder(), "the table lists the commands in the order of ControlCommand");
static_assert(size_t(C::Act) + 1 == sizeof(entries) / sizeof(entries[0]), "every command listed");

const std::vector<ControlCommandSpec> table(std::begin(entries), std::end(entries));

} // namespace

const std::vector<ControlCommandSpec> &controlCommands()
{
    return table;
}

const ControlCommandSpec &controlCommand(ControlCommand id)
{
    return table[size_t(id)];
}

const ControlCommandSpec *findControlCommand(const std::string &name)
{
    for (const ControlCommandSpec &c : table) {
        if (name == c.name)
            return &c;
    }
    return nullptr;
}

std::string controlUsage()
{
    std::string out;
    for (const ControlCommandSpec &c : table) {
        if (!c.summary)
            continue; // spoken by the fake board tools only
        char line[160];
        std::snprintf(line, sizeof(line), "  %-39s %s\n",
                      (std::string(c.name) + (*c.arguments ? " " : "") + c.arguments).c_str(),
                      c.summary);
        out += line;
    }
    return out;
}

std::string controlRequest(ControlCommand id, const std::vector<std::string> &args)
{
    std::string line = controlCommand(id).name;
    for (const std::string &a : args)
        line += " " + a;
    return line;
}

std::string controlUsageMessage(ControlCommand id)
{
    const ControlCommandSpec &c = controlCommand(id);
    return std::string("usage: ") + c.name + (*c.arguments ? " " : "") + c.arguments;
}

PanelKeyRequest panelKeyRequest(const std::vector<std::string> &args, std::string *why)
{
    PanelKeyRequest request;
    const std::string &action = args.at(0);
    request.press = action == "press" || action == "tap";
    request.release = action == "release" || action == "tap";
    if (!request.press && !request.release)
        *why = controlUsageMessage(C::Key);
    else if (!(request.key = board::findPanelKey(args.at(1))))
        *why = "the panel has no key '" + args.at(1) + "'";
    return request;
}
