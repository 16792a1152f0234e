#pragma once

#include "board/toolactions.h"
#include "control/turnscheduler.h"
#include "controlcommands.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class ControlServer;
class EvdevFs;
class GpioFs;
class Scenario;
class ToolBox;
class Transcript;
class UsbMedia;

// What the control socket acts on.
struct SimulatedBoard
{
    Transcript &transcript;
    Scenario &scenario;
    GpioFs &gpio;
    EvdevFs &evdev;
    ToolBox &tools;
    UsbMedia &media;
};

// Answers the control socket's requests: looks the command up in the shared
// table, checks its argument count there, and runs the handler bound to it
// (a table indexed by the command's id, checked complete when compiled).
class ControlDispatch
{
public:
    using Clock = std::chrono::steady_clock;

    ControlDispatch(const SimulatedBoard &board, ControlServer &server);

    // The server's handler: true with the reply, false when it comes later.
    bool handle(int client, const std::string &line, std::string *reply);
    // Answers the transcript waits that are due (all of them with `all`).
    void answerWaits(bool all);
    // When the next wait times out, if one is pending; now while turns are.
    std::optional<Clock::time_point> nextDeadline() const;
    // Turns one more slice of the queued turns; call once per loop iteration.
    void serveTurns();

private:
    using Args = std::vector<std::string>;
    // The reply, or nothing when it is sent later.
    using Reply = std::optional<std::string>;
    using Handler = Reply (ControlDispatch::*)(int client, const Args &args);
    struct Binding
    {
        ControlCommand id;
        Handler handler;
    };
    static Handler handler(ControlCommand id);

    struct TranscriptWait
    {
        int client;
        size_t knownCount;
        Clock::time_point deadline;
    };

    Reply ping(int, const Args &);
    Reply turn(int client, const Args &a);
    Reply turnTo(int, const Args &a);
    Reply record(int, const Args &a);
    Reply setPosition(int, const Args &a);
    Reply position(int, const Args &);
    Reply pending(int, const Args &);
    Reply ioctlFails(int, const Args &a);
    Reply gone(int, const Args &a);
    Reply gpio(int, const Args &a);
    Reply set(int, const Args &a);
    Reply get(int, const Args &a);
    Reply scenario(int, const Args &);
    Reply state(int, const Args &);
    Reply transcript(int, const Args &a);
    Reply transcriptCount(int, const Args &);
    Reply clearTranscript(int, const Args &);
    Reply waitTranscript(int client, const Args &a);
    Reply facts(int, const Args &);
    Reply key(int, const Args &a);
    Reply exec(int, const Args &a);
    Reply act(int, const Args &a);

    int encoderPosition() const;

    SimulatedBoard m_board;
    ControlServer &m_server;
    std::vector<TranscriptWait> m_waits;
    TurnScheduler m_turns;
    ToolActions m_tools;
};
