#pragma once

#include "evdev/evdevclient.h"
#include "evdev/evdevdevice.h"
#include "evdev/evdevgrab.h"
#include "evdev/evdevlog.h"
#include "evdev/inputcore.h"
#include "fuse/fusemount.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

class Transcript;

// The board's evdev nodes under /dev/input, one FUSE file system serving a
// node per device description, each behaving like the kernel's evdev
// character device: every open file gets its own buffer from the open on,
// sized as evdev sizes it, reads block until a packet is complete and return
// whole records of the caller's ABI, O_NONBLOCK gives EAGAIN, poll reports
// readiness, signals interrupt a blocked read, the ioctls answer from the
// description, and an unplugged device fails its open files with ENODEV.
class EvdevFs
{
public:
    explicit EvdevFs(Transcript &transcript);
    ~EvdevFs();
    EvdevFs(const EvdevFs &) = delete;
    EvdevFs &operator=(const EvdevFs &) = delete;

    // Adds a node; before mount().
    void addDevice(const EvdevDevice &device);
    // --compat32-evdev: every reader is taken for a 32-bit process (the ARM
    // build under qemu-arm), which the kernel gives 16-byte records and
    // bit masks in 32-bit longs.
    void setCompat32(bool compat) { m_compat32 = compat; }
    bool mount(const std::string &mountPoint, std::string *error);
    FuseMount &fuse() { return m_fuse; }
    // Call after every request handled: answers reads whose callers were
    // interrupted by a signal.
    void afterRequest();
    // Answers every blocked read (ENODEV) before the session goes: a process
    // killed while blocked waits for the answer, so none may be left open.
    void shutdown();

    // What a driver reports, through the input core's rules
    // (input_handle_event()): values the device does not have or that change
    // nothing are dropped, and the rest reach the readers when a SYN_REPORT
    // ends the packet. False for a node that does not exist.
    bool report(const std::string &node, unsigned type, unsigned code, int value);
    // One value handed to the node's readers as it is, past the input core's
    // rules (as evdev_event() passes it on), for feeding readers what a
    // kernel device would never send.
    bool inject(const std::string &node, unsigned type, unsigned code, int value);

    // nullptr when there is no such node.
    EvdevDevice *device(const std::string &node);
    // Events queued and not yet read by the open file furthest ahead (0 when
    // nobody has the node open: nothing is kept for later readers).
    int pendingRecords(const std::string &node) const;
    int readerCount(const std::string &node) const;
    // The device vanishes (unplugged): its open files get ENODEV and
    // POLLERR|POLLHUP for good, new opens ENOENT until it comes back.
    void setGone(const std::string &node, bool gone);
    bool isGone(const std::string &node) const;
    // Every ioctl on the node fails with ENOTTY, as on a file that is no
    // evdev device.
    void setIoctlFails(const std::string &node, bool fails);
    bool ioctlFails(const std::string &node) const;
    // input_event_size(): 24 bytes, 16 under --compat32-evdev.
    size_t recordSize() const;

private:
    struct Node
    {
        InputCore core;
        EvdevGrab grab;
        bool gone = false;
        bool ioctlFails = false;
    };
    struct PendingRead
    {
        fuse_req_t req;
        size_t size;
        int pid;
        size_t node;
    };
    struct Reader
    {
        size_t node;
        EvdevClient client;
        std::deque<PendingRead> reads;
        fuse_pollhandle *pollHandle = nullptr;
        bool dead = false;
    };

    Node *find(const std::string &node);
    const Node *find(const std::string &node) const;
    std::string path(size_t node) const;
    void passToReaders(size_t node, const std::vector<EvdevEvent> &values);
    // Answers the blocked reads that can be answered now and wakes the poller.
    void wake(Reader &reader);
    void wakePoller(Reader &reader);
    // Whole records from completed packets, as many as fit (evdev_read()).
    std::string takeRecords(Reader &reader, size_t size);
    void answerRead(const PendingRead &read, const std::string &bytes, int error);

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

    EvdevLog m_log;
    FuseMount m_fuse;
    std::string m_mountPoint;
    std::vector<Node> m_nodes;
    std::map<uint64_t, Reader> m_readers;
    uint64_t m_nextReader = 1;
    std::vector<fuse_req_t> m_interrupted;
    bool m_compat32 = false;
};
