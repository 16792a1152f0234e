#include "controldispatch.h"

#include "boardtools.h"
#include "controlconnection.h"
#include "controlserver.h"
#include "evdevfs.h"
#include "gpiofs.h"
#include "gpiolines.h"
#include "keypaddevice.h"
#include "options.h"
#include "panelkeys.h"
#include "scenario.h"
#include "toolbox.h"
#include "transcript.h"
#include "usbmedia.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <linux/input.h>

namespace {

using C = ControlCommand;

const std::string ok = "ok";

std::string okWith(const std::string &payload)
{
    return "ok " + payload;
}

// Messages may quote the request: never more than a short prefix of it.
std::string error(const std::string &message)
{
    return "error " + message.substr(0, 160);
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

std::string usage(C id)
{
    const ControlCommandSpec &command = controlCommand(id);
    return error(std::string("usage: ") + command.name + (*command.arguments ? " " : "") +
                 command.arguments);
}

const char *boolText(bool b)
{
    return b ? "true" : "false";
}

} // namespace

const ControlDispatch::Binding ControlDispatch::bindings[controlCommandCount] = {
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

ControlDispatch::ControlDispatch(const SimulatedBoard &board, ControlServer &server)
    : m_board(board), m_server(server)
{}

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
    for (const Binding &b : bindings) {
        if (b.id != command->id)
            continue;
        Reply r = (this->*b.handler)(client, args);
        if (!r)
            return false;
        *reply = *r;
        return true;
    }
    *reply = error(std::string("no handler for '") + command->name + "'");
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
    if (steps < -maxTurnSteps || steps > maxTurnSteps)
        return error("turn: at most " + std::to_string(maxTurnSteps) + " steps at once");
    // Queued behind earlier turns, so that steps keep the order they were asked in.
    m_turns.push_back({client, steps});
    serveTurns();
    return std::nullopt;
}

void ControlDispatch::serveTurns()
{
    // A slice is measured in time, not steps: a slow build (sanitizers) or a
    // busy machine still answers everything else in between.
    const Clock::time_point until = Clock::now() + sliceTime;
    while (!m_turns.empty() && Clock::now() < until) {
        PendingTurn &t = m_turns.front();
        const int now = std::max(-stepsPerCheck, std::min(stepsPerCheck, t.steps));
        // One detent is one packet: the new position, then SYN_REPORT. The
        // input core keeps the axis in a 32-bit value that wraps at its ends:
        // unsigned arithmetic gives the same bits without overflowing an int.
        const uint32_t direction = now < 0 ? UINT32_MAX : 1u;
        for (int i = 0; i != now; i += now < 0 ? -1 : 1) {
            const int32_t next = int32_t(uint32_t(encoderPosition()) + direction);
            m_board.evdev.report(encoderNode, EV_ABS, ABS_X, next);
            m_board.evdev.report(encoderNode, EV_SYN, SYN_REPORT, 0);
        }
        t.steps -= now;
        if (t.steps == 0) {
            const int client = t.client;
            m_turns.pop_front();
            m_server.reply(client, ok);
        }
    }
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
    const bool press = a[0] == "press" || a[0] == "tap";
    const bool release = a[0] == "release" || a[0] == "tap";
    if (!press && !release)
        return usage(C::Key);
    const board::PanelKey *key = board::findPanelKey(a[1]);
    if (!key)
        return error("the panel has no key '" + a[1] + "'");
    for (int value : {1, 0}) {
        if (value ? press : release) {
            m_board.evdev.report(keypadNode, EV_KEY, unsigned(key->linuxKey), value);
            m_board.evdev.report(keypadNode, EV_SYN, SYN_REPORT, 0);
        }
    }
    return ok;
}

// For scripts, which take the board's facts from here rather than spell them again.
ControlDispatch::Reply ControlDispatch::facts(int, const Args &)
{
    std::string names, pcKeys;
    for (int i = 0; i < board::TestedKeyCount; ++i) {
        names += std::string(i ? " " : "") + board::panelKeys()[size_t(i)].name;
        pcKeys += std::string(i ? " " : "") + board::panelKeys()[size_t(i)].pcKey;
    }
    const std::vector<std::string> lines = {
        "panel_keys=" + names,
        "pc_keys=" + pcKeys,
        std::string("clear_pc_key=") + board::clearKey().pcKey,
        "danger_lamp_line=" + std::to_string(board::DangerLampLine),
        "danger_test_line=" + std::to_string(board::DangerTestLine),
        "beep_line=" + std::to_string(board::BeepLine),
        "alarm_sound_line=" + std::to_string(board::AlarmSoundLine),
        std::string("gpio_dir=") + board::GpioDir,
        std::string("flash_identification=") + board::FlashIdentification,
    };
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
    return okWith(stateJson());
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
    if (!m_turns.empty())
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
    const std::string &name = a[1];
    const std::string mode = m_board.scenario.get("tool." + name);
    if (mode.empty())
        return error("unknown tool '" + ControlServer::excerpt(name) + "'");
    Transcript::Entry e(std::atoi(a[0].c_str()), "exec", name);
    e.hasArgs = true;
    for (size_t i = 2; i < a.size(); ++i)
        e.args.push_back(ControlConnection::decodeArg(a[i]));
    e.hasResult = false;
    m_board.transcript.add(e);
    return okWith(mode + " " + m_board.scenario.get("tool-delay-ms"));
}

ControlDispatch::Reply ControlDispatch::act(int, const Args &a)
{
    const std::string &name = a[0];
    if (m_board.scenario.get("tool." + name).empty())
        return error("unknown tool '" + ControlServer::excerpt(name) + "'");
    std::vector<std::string> args;
    for (size_t i = 1; i < a.size(); ++i)
        args.push_back(ControlConnection::decodeArg(a[i]));
    auto is = [&name, &args](const board::ToolCommand &command) {
        return name == command.program && args == board::arguments(command);
    };
    if (is(board::UsbSwitchIn) || is(board::UsbSwitchBack)) {
        m_board.media.setSwitched(is(board::UsbSwitchIn));
        return ok;
    }
    if (is(board::IocBootIn) || is(board::IocBootBack)) {
        m_board.media.setBooted(is(board::IocBootIn));
        return ok;
    }
    if (is(board::FlashRead))
        return okWith(m_board.scenario.get("flash"));
    return error("usage");
}

int ControlDispatch::encoderPosition() const
{
    return m_board.evdev.device(encoderNode)->absinfo[ABS_X].value;
}

std::string ControlDispatch::stateJson() const
{
    const EvdevFs &evdev = m_board.evdev;
    std::string out = "{\"position\": " + std::to_string(encoderPosition()) +
                      ", \"pending\": " + std::to_string(evdev.pendingRecords(encoderNode)) +
                      ", \"readers\": " + std::to_string(evdev.readerCount(encoderNode)) +
                      ", \"gone\": " + boolText(evdev.isGone(encoderNode)) +
                      ", \"ioctlFails\": " + boolText(evdev.ioctlFails(encoderNode)) +
                      ", \"evdevRecordSize\": " + std::to_string(evdev.recordSize()) +
                      ", \"gpio\": {";
    bool first = true;
    for (int i = 0; i < GpioFs::lineCount; ++i) {
        const GpioFs::Line &l = m_board.gpio.line(i);
        if (!l.exported)
            continue;
        out += std::string(first ? "" : ", ") + "\"" + std::to_string(i) +
               "\": {\"direction\": \"" + (l.output ? "out" : "in") + "\", \"value\": \"" +
               (l.high ? "1" : "0") + "\"}";
        first = false;
    }
    out += "}, \"scenario\": {";
    first = true;
    for (const auto &kv : m_board.scenario.values()) {
        out += std::string(first ? "" : ", ") + "\"" + kv.first + "\": \"" + kv.second + "\"";
        first = false;
    }
    const UsbMedia &media = m_board.media;
    out += std::string("}, \"usb\": {\"switched\": ") + boolText(media.isSwitched()) +
           ", \"booted\": " + boolText(media.isBooted()) +
           ", \"mounted\": " + boolText(media.isMounted()) +
           "}, \"transcriptCount\": " + std::to_string(m_board.transcript.count()) +
           ", \"transcriptDropped\": " + std::to_string(m_board.transcript.dropped()) + "}";
    return out;
}
