#pragma once

#include "fusemount.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <sys/time.h>
#include <vector>

class Transcript;

// The rotary encoder's evdev node (/dev/input/event0) as a regular FUSE file
// that behaves like the kernel's evdev character device: reads block until a
// record is queued and return whole records, O_NONBLOCK gives EAGAIN, poll
// reports readiness, signals interrupt a blocked read, EVIOCGABS answers the
// position. Like the kernel, every open file has its own queue and sees every
// record queued while it is open.
class EvdevFs
{
public:
    explicit EvdevFs(Transcript &transcript);
    ~EvdevFs();
    EvdevFs(const EvdevFs &) = delete;
    EvdevFs &operator=(const EvdevFs &) = delete;

    // --no-evdev: the node does not exist at all.
    void setAbsent(bool absent) { m_absent = absent; }
    bool mount(const std::string &mountPoint, std::string *error);
    FuseMount &fuse() { return m_fuse; }
    // Call after every request handled: answers reads whose callers were
    // interrupted by a signal.
    void afterRequest();

    // One EV_ABS/ABS_X record at each position on the way, each followed by EV_SYN.
    void turn(int steps);
    void turnTo(int position);
    void queueRecord(int type, int code, int value);
    void setPosition(int position) { m_position = position; }
    int position() const { return m_position; }
    int pendingRecords() const;
    void setIoctlFails(bool fails) { m_ioctlFails = fails; }
    bool ioctlFails() const { return m_ioctlFails; }
    // The device vanishes (unplugged): open readers get ENODEV and POLLERR|POLLHUP
    // for good, new opens ENOENT until it comes back.
    void setGone(bool gone);
    bool isGone() const { return m_gone; }
    int readerCount() const;
    // Answers every blocked read (ENODEV) before the session goes: a process
    // killed while blocked waits for the answer, so none may be left open.
    void shutdown();

private:
    struct Record
    {
        timeval time;
        uint16_t type;
        uint16_t code;
        int32_t value;
    };
    struct PendingRead
    {
        fuse_req_t req;
        size_t size;
        int pid;
    };
    struct Reader
    {
        std::deque<Record> queue;
        std::deque<PendingRead> reads;
        fuse_pollhandle *pollHandle = nullptr;
        bool dead = false;
    };

    void addRecord(int type, int code, int value);
    // Answers blocked reads and wakes pollers after records were queued.
    void deliver();
    void wakePoller(Reader &reader);
    void answerRead(Reader &reader, const PendingRead &read);
    void logRead(int pid, const std::string &bytes, long result);
    static size_t recordSizeFor(size_t size);
    static std::string encode(const Record &record, size_t recordSize);

    static EvdevFs *self(fuse_req_t req);
    static void onInterrupt(fuse_req_t req, void *data);
    static void opLookup(fuse_req_t req, fuse_ino_t parent, const char *name);
    static void opGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi);
    static void opReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off,
                          fuse_file_info *fi);
    static void opOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi);
    static void opRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info *fi);
    static void opWrite(fuse_req_t req, fuse_ino_t ino, const char *buf, size_t size, off_t off,
                        fuse_file_info *fi);
    static void opFlush(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi);
    static void opRelease(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi);
    static void opIoctl(fuse_req_t req, fuse_ino_t ino, unsigned int cmd, void *arg,
                        fuse_file_info *fi, unsigned flags, const void *inBuf, size_t inBufSize,
                        size_t outBufSize);
    static void opPoll(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi, fuse_pollhandle *ph);

    Transcript &m_transcript;
    FuseMount m_fuse;
    std::string m_path;
    std::map<uint64_t, Reader> m_readers;
    uint64_t m_nextReader = 1;
    // Records queued while nobody had the device open, kept for the next reader.
    std::deque<Record> m_backlog;
    std::vector<fuse_req_t> m_interrupted;
    int m_position = 0;
    bool m_absent = false;
    bool m_gone = false;
    bool m_ioctlFails = false;
};
