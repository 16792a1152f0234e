#include "control/controldispatch.h"

#include "board/scenario.h"
#include "board/toolbox.h"
#include "boardfacts.h"
#include "boardtools.h"
#include "control/controlserver.h"
#include "control/statejson.h"
#include "control/transcript.h"
#include "controlconnection.h"
#include "evdev/evdevfs.h"
#include "evdev/keypaddevice.h"
#include "gpio/gpiofs.h"
#include "gpiolines.h"
#include "options.h"
#include "panelkeys.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <linux/input.h>

namespace {

using C = ControlCommand;

const std::string ok = "ok";

std::string okWith(const std::string &payload)
{
    return "ok " + payload;
}

// Messages may quote the request: never more than a short prefix of it, and
// never a line end or other control character, which a decoded argument can
// carry: the client takes everything after a line end for the next reply.
std::string error(const std::string &message)
{
    std::string text = message.substr(0, 160);
    for (char &c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return "error " + text;
}

bool parseInt(const std::string &text, int *value)
{
    long v = 0;
    if (!::parseInt(text, INT_MIN, INT_MAX, &v))
        return false;
    *value = int(v);
    return true;
}

bool parseOnOff(const std::string &text, bool *value)
{
    if (text == "on" || text == "1" || text == "true")
        *value = true;
    else if (text == "off" || text == "0" || text == "false")
        *value = false;
    else
        return false;
    return true;
}

std::vector<std::string> decodedArgs(const std::vector<std::string> &words, size_t from)
{
    std::vector<std::string> args;
    for (size_t i = from; i < words.size(); ++i)
        args.push_back(ControlConnection::decodeArg(words[i]));
    return args;
}

std::string toolReply(const std::string &name, const ToolActions::Answer &answer)
{
    switch (answer.kind) {
    case ToolActions::Answer::UnknownTool:
        return error("unknown tool '" + ControlServer::excerpt(name) + "'");
    case ToolActions::Answer::Usage:
        return error("usage");
    case ToolActions::Answer::Done:
        break;
    }
    return answer.payload ? okWith(*answer.payload) : ok;
}

std::string usage(C id)
{
    return error(controlUsageMessage(id));
}

// Entry i of a handler table handles command i.
template <typename Binding, size_t N> constexpr bool inCommandOrder(const Binding (&table)[N])
{
    for (size_t i = 0; i < N; ++i) {
        if (size_t(table[i].id) != i)
            return false;
    }
    return true;
}

} // namespace

ControlDispatch::ControlDispatch(const SimulatedBoard &board, ControlServer &server)
    : m_board(board), m_server(server), m_turns(board.evdev, server),
      m_tools(board.scenario, board.media, board.transcript)
{}

ControlDispatch::Handler ControlDispatch::handler(ControlCommand id)
{
    static constexpr Binding table[] = {
        {C::Ping, &ControlDispatch::ping},
        {C::Turn, &ControlDispatch::turn},
        {C::TurnTo, &ControlDispatch::turnTo},
        {C::Record, &ControlDispatch::record},
        {C::SetPosition, &ControlDispatch::setPosition},
        {C::Position, &ControlDispatch::position},
        {C::Pending, &ControlDispatch::pending},
        {C::IoctlFails, &ControlDispatch::ioctlFails},
        {C::Gone, &ControlDispatch::gone},
        {C::Gpio, &ControlDispatch::gpio},
        {C::Set, &ControlDispatch::set},
        {C::Get, &ControlDispatch::get},
        {C::Scenario, &ControlDispatch::scenario},
        {C::State, &ControlDispatch::state},
        {C::Transcript, &ControlDispatch::transcript},
        {C::TranscriptCount, &ControlDispatch::transcriptCount},
        {C::ClearTranscript, &ControlDispatch::clearTranscript},
        {C::WaitTranscript, &ControlDispatch::waitTranscript},
        {C::Key, &ControlDispatch::key},
        {C::Facts, &ControlDispatch::facts},
        {C::Exec, &ControlDispatch::exec},
        {C::Act, &ControlDispatch::act},
    };
    static_assert(std::size(table) == controlCommandCount, "a handler for every command");
    static_assert(inCommandOrder(table), "the handlers in the order of ControlCommand");
    return table[size_t(id)].handler;
}

bool ControlDispatch::handle(int client, const std::string &line, std::string *reply)
{
    Args args = ControlConnection::splitWords(line);
    if (args.empty()) {
        *reply = error("empty request");
        return true;
    }
    const ControlCommandSpec *command = findControlCommand(args[0]);
    if (!command) {
        *reply = error("unknown command '" + ControlServer::excerpt(args[0]) + "'");
        return true;
    }
    args.erase(args.begin());
    if (int(args.size()) < command->minArgs || int(args.size()) > command->maxArgs) {
        *reply = usage(command->id);
        return true;
    }
    Reply r = (this->*handler(command->id))(client, args);
    if (!r)
        return false;
    *reply = *r;
    return true;
}

ControlDispatch::Reply ControlDispatch::ping(int, const Args &)
{
    return okWith("boardsim");
}

ControlDispatch::Reply ControlDispatch::turn(int client, const Args &a)
{
    int steps = 0;
    if (!parseInt(a[0], &steps))
        return usage(C::Turn);
    if (steps < -TurnScheduler::maxTurnSteps || steps > TurnScheduler::maxTurnSteps)
        return error("turn: at most " + std::to_string(TurnScheduler::maxTurnSteps) +
                     " steps at once");
    // Queued behind earlier turns, so that steps keep the order they were asked in.
    m_turns.add(client, steps);
    m_turns.serve();
    return std::nullopt;
}

void ControlDispatch::serveTurns()
{
    m_turns.serve();
}

ControlDispatch::Reply ControlDispatch::turnTo(int, const Args &a)
{
    int position = 0;
    if (!parseInt(a[0], &position))
        return usage(C::TurnTo);
    m_board.evdev.report(encoderNode, EV_ABS, ABS_X, position);
    m_board.evdev.report(encoderNode, EV_SYN, SYN_REPORT, 0);
    return ok;
}

ControlDispatch::Reply ControlDispatch::record(int, const Args &a)
{
    int type = 0, code = 0, value = 0;
    if (!parseInt(a[0], &type) || !parseInt(a[1], &code) || !parseInt(a[2], &value))
        return usage(C::Record);
    if (type < 0 || type > 0xffff || code < 0 || code > 0xffff)
        return error("type and code must be 0..65535");
    m_board.evdev.inject(encoderNode, unsigned(type), unsigned(code), value);
    return ok;
}

ControlDispatch::Reply ControlDispatch::setPosition(int, const Args &a)
{
    int position = 0;
    if (!parseInt(a[0], &position))
        return usage(C::SetPosition);
    m_board.evdev.device(encoderNode)->absinfo[ABS_X].value = position;
    return ok;
}

ControlDispatch::Reply ControlDispatch::position(int, const Args &)
{
    return okWith(std::to_string(encoderPosition()));
}

ControlDispatch::Reply ControlDispatch::pending(int, const Args &)
{
    return okWith(std::to_string(m_board.evdev.pendingRecords(encoderNode)));
}

ControlDispatch::Reply ControlDispatch::ioctlFails(int, const Args &a)
{
    bool fails = false;
    if (!parseOnOff(a[0], &fails))
        return usage(C::IoctlFails);
    m_board.evdev.setIoctlFails(encoderNode, fails);
    return ok;
}

ControlDispatch::Reply ControlDispatch::gone(int, const Args &a)
{
    bool gone = false;
    if (!parseOnOff(a[0], &gone))
        return usage(C::Gone);
    m_board.evdev.setGone(encoderNode, gone);
    return ok;
}

// As the keypad's driver reports a key: its new state, then the end of the
// packet. The input core drops a press of a key that is down already.
ControlDispatch::Reply ControlDispatch::key(int, const Args &a)
{
    std::string why;
    const PanelKeyRequest request = panelKeyRequest(a, &why);
    if (!request.key)
        return error(why);
    for (int value : {1, 0}) {
        if (value ? request.press : request.release) {
            m_board.evdev.report(keypadNode, EV_KEY, unsigned(request.key->linuxKey), value);
            m_board.evdev.report(keypadNode, EV_SYN, SYN_REPORT, 0);
        }
    }
    return ok;
}

// For scripts, which take the board's facts from here rather than spell them again.
ControlDispatch::Reply ControlDispatch::facts(int, const Args &)
{
    const std::vector<std::string> lines = board::factLines();
    std::string out = okWith(std::to_string(lines.size()));
    for (const std::string &line : lines)
        out += "\n" + line;
    return out;
}

ControlDispatch::Reply ControlDispatch::gpio(int, const Args &a)
{
    int n = 0;
    if (!parseInt(a[0], &n) || n < 0 || n >= GpioFs::lineCount)
        return error("no such line " + a[0]);
    const GpioFs::Line &l = m_board.gpio.line(n);
    if (!l.exported)
        return okWith("unexported");
    return okWith(std::string(l.output ? "out " : "in ") + (l.high ? "1" : "0"));
}

ControlDispatch::Reply ControlDispatch::set(int, const Args &a)
{
    std::string why;
    if (!m_board.scenario.setAssignment(ControlConnection::decodeArg(a[0]), &why))
        return error(why);
    m_board.tools.update(m_board.scenario);
    return ok;
}

ControlDispatch::Reply ControlDispatch::get(int, const Args &a)
{
    const std::string key = ControlConnection::decodeArg(a[0]);
    const std::string v = m_board.scenario.get(key);
    return v.empty() ? error("unknown scenario key '" + key + "'") : okWith(v);
}

ControlDispatch::Reply ControlDispatch::scenario(int, const Args &)
{
    return okWith(m_board.scenario.describe());
}

ControlDispatch::Reply ControlDispatch::state(int, const Args &)
{
    return okWith(stateJson(m_board));
}

ControlDispatch::Reply ControlDispatch::transcript(int, const Args &a)
{
    int from = 0;
    if (!a.empty() && (!parseInt(a[0], &from) || from < 0))
        return error("transcript: bad start index");
    // Entries dropped from memory are skipped; "transcriptDropped" in the
    // state says how many there were.
    const Transcript &t = m_board.transcript;
    const size_t first = std::min(std::max(size_t(from), t.dropped()), t.count());
    std::string out = okWith(std::to_string(t.count() - first));
    for (size_t i = first; i < t.count(); ++i)
        out += "\n" + t.at(i);
    return out;
}

ControlDispatch::Reply ControlDispatch::transcriptCount(int, const Args &)
{
    return okWith(std::to_string(m_board.transcript.count()));
}

ControlDispatch::Reply ControlDispatch::clearTranscript(int, const Args &)
{
    m_board.transcript.clear();
    return ok;
}

// Answered from the loop when the count differs from the caller's, or at the time-out.
ControlDispatch::Reply ControlDispatch::waitTranscript(int client, const Args &a)
{
    int known = 0, timeoutMs = 0;
    if (!parseInt(a[0], &known) || !parseInt(a[1], &timeoutMs) || known < 0 || timeoutMs < 0)
        return usage(C::WaitTranscript);
    m_waits.push_back({client, size_t(known), Clock::now() + std::chrono::milliseconds(timeoutMs)});
    answerWaits(false);
    return std::nullopt;
}

void ControlDispatch::answerWaits(bool all)
{
    const auto now = Clock::now();
    const size_t count = m_board.transcript.count();
    for (size_t i = 0; i < m_waits.size();) {
        const TranscriptWait w = m_waits[i];
        if (all || count != w.knownCount || now >= w.deadline) {
            m_waits.erase(m_waits.begin() + long(i));
            m_server.reply(w.client, okWith(std::to_string(count)));
        } else {
            ++i;
        }
    }
}

std::optional<ControlDispatch::Clock::time_point> ControlDispatch::nextDeadline() const
{
    if (m_turns.busy())
        return Clock::now();
    if (m_waits.empty())
        return std::nullopt;
    auto next = m_waits.front().deadline;
    for (const TranscriptWait &w : m_waits)
        next = std::min(next, w.deadline);
    return next;
}

// The fake tools ask here first how to behave ("exec PID NAME ARG..."), and
// when they get to do their work ("act NAME ARG...") the board changes.
ControlDispatch::Reply ControlDispatch::exec(int, const Args &a)
{
    const std::vector<std::string> args = decodedArgs(a, 2);
    return toolReply(a[1], m_tools.exec(std::atoi(a[0].c_str()), a[1], args));
}

ControlDispatch::Reply ControlDispatch::act(int, const Args &a)
{
    return toolReply(a[0], m_tools.act(a[0], decodedArgs(a, 1)));
}

int ControlDispatch::encoderPosition() const
{
    return m_board.evdev.device(encoderNode)->absinfo[ABS_X].value;
}
