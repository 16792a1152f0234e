#include "evdev/evdevclient.h"

#include <linux/input.h>

namespace {

timeval toTimeval(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return {ts.tv_sec, ts.tv_nsec / 1000};
}

} // namespace

EvdevTimes EvdevTimes::now()
{
    return {toTimeval(CLOCK_REALTIME), toTimeval(CLOCK_MONOTONIC), toTimeval(CLOCK_BOOTTIME)};
}

EvdevClient::EvdevClient(unsigned bufferSize) : m_buffer(bufferSize) {}

bool EvdevClient::passValues(const std::vector<EvdevEvent> &values, const EvdevTimes &times)
{
    const timeval time = m_clock == Real ? times.real : m_clock == Mono ? times.mono : times.boot;
    bool wakeup = false;
    for (EvdevEvent event : values) {
        if (event.type == EV_SYN && event.code == SYN_REPORT) {
            if (m_packetHead == m_head)
                continue; // an empty packet
            wakeup = true;
        }
        event.time = time;
        passEvent(event);
    }
    return wakeup;
}

// __pass_event(): a full ring drops everything unread, leaving SYN_DROPPED
// (stamped with the new event's time) and the new event.
void EvdevClient::passEvent(const EvdevEvent &event)
{
    m_buffer[m_head++] = event;
    m_head &= mask();
    if (m_head == m_tail) {
        m_tail = (m_head - 2) & mask();
        m_buffer[m_tail] = {event.time, EV_SYN, SYN_DROPPED, 0};
        m_packetHead = m_tail;
    }
    if (event.type == EV_SYN && event.code == SYN_REPORT)
        m_packetHead = m_head;
}

bool EvdevClient::fetch(EvdevEvent *event)
{
    if (!hasPacket())
        return false;
    *event = m_buffer[m_tail++];
    m_tail &= mask();
    return true;
}

void EvdevClient::flushType(unsigned type)
{
    unsigned head = m_tail;
    m_packetHead = m_tail;
    // 1, so that a leading SYN_REPORT is kept.
    unsigned inPacket = 1;
    for (unsigned i = m_tail; i != m_head; i = (i + 1) & mask()) {
        const EvdevEvent &ev = m_buffer[i];
        const bool isReport = ev.type == EV_SYN && ev.code == SYN_REPORT;
        if (ev.type == type)
            continue;
        if (isReport && inPacket == 0)
            continue; // a packet left empty
        if (head != i)
            m_buffer[head] = ev;
        ++inPacket;
        head = (head + 1) & mask();
        if (isReport) {
            inPacket = 0;
            m_packetHead = head;
        }
    }
    m_head = head;
}

// __evdev_queue_syn_dropped()
void EvdevClient::queueSynDropped()
{
    const clockid_t ids[] = {CLOCK_REALTIME, CLOCK_MONOTONIC, CLOCK_BOOTTIME};
    m_buffer[m_head++] = {toTimeval(ids[m_clock]), EV_SYN, SYN_DROPPED, 0};
    m_head &= mask();
    if (m_head == m_tail) {
        m_tail = (m_head - 1) & mask();
        m_packetHead = m_tail;
    }
}

bool EvdevClient::setClock(clockid_t clock)
{
    Clock wanted;
    switch (clock) {
    case CLOCK_REALTIME:
        wanted = Real;
        break;
    case CLOCK_MONOTONIC:
        wanted = Mono;
        break;
    case CLOCK_BOOTTIME:
        wanted = Boot;
        break;
    default:
        return false;
    }
    if (wanted != m_clock) {
        m_clock = wanted;
        if (m_head != m_tail) {
            m_packetHead = m_head = m_tail;
            queueSynDropped();
        }
    }
    return true;
}
