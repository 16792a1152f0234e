#pragma once

#include <cstdint>
#include <ctime>
#include <sys/time.h>
#include <vector>

// One event as evdev keeps it, before it is laid out for the reader's ABI.
struct EvdevEvent
{
    timeval time;
    uint16_t type;
    uint16_t code;
    int32_t value;
};

// The moment a packet passes, on each clock a client may have chosen.
struct EvdevTimes
{
    timeval real;
    timeval mono;
    timeval boot;
    static EvdevTimes now();
};

// What the kernel's evdev keeps per open file (struct evdev_client): a ring
// of bufferSize() events with head, tail and packet head. A reader sees
// events only up to the packet head, that is once the SYN_REPORT that ends
// their packet has arrived; an overflow leaves SYN_DROPPED and the newest
// event.
class EvdevClient
{
public:
    // `bufferSize` must be a power of two, as evdev_compute_buffer_size() gives.
    explicit EvdevClient(unsigned bufferSize);

    // evdev_pass_values(): one batch from the input core, with a SYN_REPORT
    // that would end an empty packet left out. True when a reader is to be
    // woken (a packet was completed).
    bool passValues(const std::vector<EvdevEvent> &values, const EvdevTimes &times);
    // A whole packet is there to read (evdev_read, evdev_poll).
    bool hasPacket() const { return m_packetHead != m_tail; }
    // evdev_fetch_next_event(): the next event of a completed packet.
    bool fetch(EvdevEvent *event);
    // Events in the buffer, whether their packet is complete or not.
    unsigned unread() const { return (m_head - m_tail) & mask(); }
    // __evdev_flush_queue(): drops the queued events of `type`, and the
    // packets left empty by that, when a state ioctl reported that type.
    void flushType(unsigned type);
    // EVIOCSCLOCKID (evdev_set_clk_type()): false for a clock evdev does not
    // offer; a change drops what is queued and leaves SYN_DROPPED.
    bool setClock(clockid_t clock);

private:
    enum Clock
    {
        Real,
        Mono,
        Boot
    };
    unsigned mask() const { return unsigned(m_buffer.size()) - 1; }
    void passEvent(const EvdevEvent &event);
    void queueSynDropped();

    std::vector<EvdevEvent> m_buffer;
    unsigned m_head = 0;
    unsigned m_tail = 0;
    unsigned m_packetHead = 0;
    Clock m_clock = Real;
};
