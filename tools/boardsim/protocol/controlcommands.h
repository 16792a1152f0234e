#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace board {
struct PanelKey;
}

// The control socket's vocabulary, in one place: the simulator's dispatch
// binds a handler to each entry, boardsim-ctl prints the usage from it and
// checks the argument count before sending, and the client library and the
// panel build their requests from the names here.
enum class ControlCommand
{
    Ping,
    Turn,
    TurnTo,
    Record,
    SetPosition,
    Position,
    Pending,
    IoctlFails,
    Gone,
    Gpio,
    Set,
    Get,
    Scenario,
    State,
    Transcript,
    TranscriptCount,
    ClearTranscript,
    WaitTranscript,
    Key,
    Facts,
    Exec,
    Act,
};

constexpr size_t controlCommandCount = size_t(ControlCommand::Act) + 1;

struct ControlCommandSpec
{
    ControlCommand id;
    const char *name;
    int minArgs;
    int maxArgs;           // anyArgs: no upper bound
    const char *arguments; // as the usage shows them
    const char *summary;   // what it does, one line
    // Reply shapes beyond the one line "ok[ PAYLOAD]" / "error MESSAGE".
    bool multiLine; // "ok N" and N more lines
    bool waits;     // the reply may take as long as the last argument (ms)
};

constexpr int anyArgs = 1 << 20;

// Every command, in the order of ControlCommand (entry i has id i).
const std::vector<ControlCommandSpec> &controlCommands();
const ControlCommandSpec &controlCommand(ControlCommand id);
// The entry named `name`, nullptr when there is none.
const ControlCommandSpec *findControlCommand(const std::string &name);
// The usage of every command a user may type (the tools' own exec/act left out).
std::string controlUsage();
// "usage: NAME ARGUMENTS", the message of the error reply to a malformed request.
std::string controlUsageMessage(ControlCommand id);

// What a "key ACTION NAME" request asks of the keypad: the key by its panel
// name, and the edges ("press", "release", or "tap": a press, then a release).
struct PanelKeyRequest
{
    const board::PanelKey *key = nullptr; // nullptr: the request is refused
    bool press = false;
    bool release = false;
};
// The request of the command's two arguments; when it names no key, `*why`
// holds the error reply's message, the same from every board.
PanelKeyRequest panelKeyRequest(const std::vector<std::string> &args, std::string *why);
// The request line for `id` with its arguments (already encoded words).
std::string controlRequest(ControlCommand id, const std::vector<std::string> &args = {});
