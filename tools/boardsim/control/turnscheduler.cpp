#include "control/turnscheduler.h"

#include "control/controlserver.h"
#include "evdev/evdevfs.h"

#include <algorithm>
#include <cstdint>
#include <linux/input.h>

void TurnScheduler::add(int client, int steps)
{
    m_turns.push_back({client, steps});
}

void TurnScheduler::serve()
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
            const int position = m_evdev.device(encoderNode)->absinfo[ABS_X].value;
            const int32_t next = int32_t(uint32_t(position) + direction);
            m_evdev.report(encoderNode, EV_ABS, ABS_X, next);
            m_evdev.report(encoderNode, EV_SYN, SYN_REPORT, 0);
        }
        t.steps -= now;
        if (t.steps == 0) {
            const int client = t.client;
            m_turns.pop_front();
            m_server.reply(client, "ok");
        }
    }
}
