#include "evdevfs.h"

#include "transcript.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/input.h>
#include <poll.h>

namespace {

constexpr fuse_ino_t rootIno = 1;
constexpr fuse_ino_t eventIno = 2;
// Like the kernel's per-client buffer: a reader that never reads must not
// make the simulator grow without bound.
constexpr size_t maxQueued = 8192;
constexpr size_t nativeRecordSize = sizeof(input_event);
// struct input_event of a 32-bit reader: 32-bit tv_sec and tv_usec.
constexpr size_t compatRecordSize = 16;
static_assert(sizeof(input_absinfo) == 24, "EVIOCGABS answers 24 bytes");

std::string hexRequest(unsigned int cmd)
{
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%08x", cmd);
    return buf;
}

// The board's udev rules give event nodes to root:input, mode 0660; the
// host's "input" group stands for it, root's group where there is none.
gid_t inputGroup()
{
    static const gid_t gid = [] {
        const group *g = getgrnam("input");
        return g ? g->gr_gid : gid_t(0);
    }();
    return gid;
}

} // namespace

EvdevFs::EvdevFs(Transcript &transcript) : m_transcript(transcript) {}

EvdevFs::~EvdevFs()
{
    for (auto &r : m_readers) {
        if (r.second.pollHandle)
            fuse_pollhandle_destroy(r.second.pollHandle);
    }
}

bool EvdevFs::mount(const std::string &mountPoint, std::string *error)
{
    fuse_lowlevel_ops ops{};
    ops.lookup = opLookup;
    ops.getattr = opGetattr;
    ops.readdir = opReaddir;
    ops.open = opOpen;
    ops.read = opRead;
    ops.write = opWrite;
    ops.flush = opFlush;
    ops.release = opRelease;
    ops.ioctl = opIoctl;
    ops.poll = opPoll;
    inputGroup(); // looked up now, not inside a request
    m_path = mountPoint + "/event0";
    return m_fuse.mount(mountPoint, "boardsim-evdev", ops, this, error);
}

void EvdevFs::turn(int steps)
{
    // The input core keeps the axis in a 32-bit value that wraps at its ends:
    // unsigned arithmetic gives the same bits without overflowing an int.
    const uint32_t direction = steps < 0 ? UINT32_MAX : 1u;
    for (int i = 0; i != steps; i += steps < 0 ? -1 : 1) {
        m_position = int32_t(uint32_t(m_position) + direction);
        addRecord(EV_ABS, ABS_X, m_position);
        addRecord(EV_SYN, SYN_REPORT, 0);
    }
    deliver();
}

void EvdevFs::turnTo(int position)
{
    m_position = position;
    addRecord(EV_ABS, ABS_X, position);
    addRecord(EV_SYN, SYN_REPORT, 0);
    deliver();
}

void EvdevFs::queueRecord(int type, int code, int value)
{
    // The input core updates the axis state as the event passes through.
    if (type == EV_ABS && code == ABS_X)
        m_position = value;
    addRecord(type, code, value);
    deliver();
}

void EvdevFs::addRecord(int type, int code, int value)
{
    if (m_gone || m_absent)
        return;
    Record r{};
    gettimeofday(&r.time, nullptr);
    r.type = uint16_t(type);
    r.code = uint16_t(code);
    r.value = int32_t(value);
    bool anyReader = false;
    for (auto &entry : m_readers) {
        Reader &reader = entry.second;
        if (reader.dead)
            continue;
        anyReader = true;
        if (reader.queue.size() >= maxQueued)
            reader.queue.pop_front();
        reader.queue.push_back(r);
    }
    if (!anyReader) {
        if (m_backlog.size() >= maxQueued)
            m_backlog.pop_front();
        m_backlog.push_back(r);
    }
}

int EvdevFs::pendingRecords() const
{
    // Records nobody has read yet: those still in every open reader's queue.
    bool anyReader = false;
    size_t least = SIZE_MAX;
    for (const auto &entry : m_readers) {
        if (entry.second.dead)
            continue;
        anyReader = true;
        least = std::min(least, entry.second.queue.size());
    }
    return int(anyReader ? least : m_backlog.size());
}

int EvdevFs::readerCount() const
{
    return int(m_readers.size());
}

void EvdevFs::setGone(bool gone)
{
    m_gone = gone;
    if (!gone)
        return;
    m_backlog.clear();
    for (auto &entry : m_readers) {
        Reader &reader = entry.second;
        reader.dead = true;
        reader.queue.clear();
        while (!reader.reads.empty()) {
            PendingRead read = reader.reads.front();
            reader.reads.pop_front();
            logRead(read.pid, std::string(), -ENODEV);
            fuse_reply_err(read.req, ENODEV);
        }
        wakePoller(reader);
    }
}

void EvdevFs::shutdown()
{
    for (auto &entry : m_readers) {
        Reader &reader = entry.second;
        for (const PendingRead &read : reader.reads)
            fuse_reply_err(read.req, ENODEV);
        reader.reads.clear();
        if (reader.pollHandle)
            fuse_pollhandle_destroy(reader.pollHandle);
        reader.pollHandle = nullptr;
    }
    m_interrupted.clear();
}

void EvdevFs::deliver()
{
    for (auto &entry : m_readers) {
        Reader &reader = entry.second;
        while (!reader.reads.empty() && !reader.queue.empty()) {
            PendingRead read = reader.reads.front();
            reader.reads.pop_front();
            answerRead(reader, read);
        }
        if (!reader.queue.empty())
            wakePoller(reader);
    }
}

void EvdevFs::wakePoller(Reader &reader)
{
    if (!reader.pollHandle)
        return;
    fuse_lowlevel_notify_poll(reader.pollHandle);
    fuse_pollhandle_destroy(reader.pollHandle);
    reader.pollHandle = nullptr;
}

// Whole records only, as many as fit: evdev never splits a record.
void EvdevFs::answerRead(Reader &reader, const PendingRead &read)
{
    size_t recordSize = recordSizeFor(read.size);
    size_t count = std::min(read.size / recordSize, reader.queue.size());
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += encode(reader.queue.front(), recordSize);
        reader.queue.pop_front();
    }
    logRead(read.pid, out, long(out.size()));
    fuse_reply_buf(read.req, out.data(), out.size());
}

void EvdevFs::logRead(int pid, const std::string &bytes, long result)
{
    Transcript::Entry e(pid, "read", m_path);
    e.hasHex = true;
    e.hex = bytes;
    e.result = result;
    m_transcript.add(e);
}

// A 32-bit reader (e.g. the ARM build under qemu-arm) asks for multiples of
// its 16-byte record; qemu passes the size through unchanged, so the size is
// all that tells the two apart. Sizes that fit both are served native records.
size_t EvdevFs::recordSizeFor(size_t size)
{
    if (size % nativeRecordSize != 0 && size % compatRecordSize == 0)
        return compatRecordSize;
    return nativeRecordSize;
}

std::string EvdevFs::encode(const Record &record, size_t recordSize)
{
    if (recordSize == compatRecordSize) {
        struct
        {
            uint32_t sec;
            uint32_t usec;
            uint16_t type;
            uint16_t code;
            int32_t value;
        } compat{uint32_t(record.time.tv_sec), uint32_t(record.time.tv_usec), record.type,
                 record.code, record.value};
        static_assert(sizeof(compat) == compatRecordSize, "packed 32-bit record");
        return std::string(reinterpret_cast<const char *>(&compat), sizeof(compat));
    }
    input_event ev{};
    ev.input_event_sec = record.time.tv_sec;
    ev.input_event_usec = record.time.tv_usec;
    ev.type = record.type;
    ev.code = record.code;
    ev.value = record.value;
    return std::string(reinterpret_cast<const char *>(&ev), sizeof(ev));
}

void EvdevFs::afterRequest()
{
    if (m_interrupted.empty())
        return;
    std::vector<fuse_req_t> interrupted;
    interrupted.swap(m_interrupted);
    for (fuse_req_t req : interrupted) {
        for (auto &entry : m_readers) {
            auto &reads = entry.second.reads;
            auto it = std::find_if(reads.begin(), reads.end(),
                                   [req](const PendingRead &r) { return r.req == req; });
            if (it == reads.end())
                continue;
            logRead(it->pid, std::string(), -EINTR);
            reads.erase(it);
            fuse_reply_err(req, EINTR);
            break;
        }
    }
}

// Called by libfuse with the request's lock held: answering here would free
// the request under that lock, so only note it and answer in afterRequest().
void EvdevFs::onInterrupt(fuse_req_t req, void *data)
{
    static_cast<EvdevFs *>(data)->m_interrupted.push_back(req);
}

EvdevFs *EvdevFs::self(fuse_req_t req)
{
    return static_cast<EvdevFs *>(fuse_req_userdata(req));
}

static bool evdevStat(const EvdevFs *, fuse_ino_t ino, bool present, struct stat *st)
{
    std::memset(st, 0, sizeof(*st));
    st->st_ino = ino;
    if (ino == rootIno) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return true;
    }
    if (ino == eventIno && present) {
        st->st_mode = S_IFREG | 0660;
        st->st_gid = inputGroup();
        st->st_nlink = 1;
        return true;
    }
    return false;
}

void EvdevFs::opLookup(fuse_req_t req, fuse_ino_t parent, const char *name)
{
    EvdevFs *fs = self(req);
    struct stat st;
    if (parent != rootIno || std::strcmp(name, "event0") != 0 ||
        !evdevStat(fs, eventIno, !fs->m_absent && !fs->m_gone, &st)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    fuse_entry_param e{};
    e.ino = eventIno;
    e.attr = st;
    fuse_reply_entry(req, &e); // zero time-outs: a vanished device must vanish at once
}

void EvdevFs::opGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *)
{
    EvdevFs *fs = self(req);
    struct stat st;
    // An open descriptor keeps its inode after the device vanished.
    if (!evdevStat(fs, ino, !fs->m_absent, &st)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    fuse_reply_attr(req, &st, 0);
}

void EvdevFs::opReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info *)
{
    EvdevFs *fs = self(req);
    if (ino != rootIno) {
        fuse_reply_err(req, ENOTDIR);
        return;
    }
    std::vector<FuseDirEntry> entries = {{".", rootIno, S_IFDIR}, {"..", rootIno, S_IFDIR}};
    if (!fs->m_absent && !fs->m_gone)
        entries.push_back({"event0", eventIno, S_IFREG});
    replyDirectory(req, size, off, entries);
}

void EvdevFs::opOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    EvdevFs *fs = self(req);
    int err = (ino != eventIno || fs->m_absent || fs->m_gone) ? ENOENT : 0;
    Transcript::Entry e(requesterPid(req), "open", fs->m_path);
    e.hasFlags = true;
    e.flags = Transcript::openFlags(fi->flags);
    e.result = -err;
    fs->m_transcript.add(e);
    if (err) {
        fuse_reply_err(req, err);
        return;
    }
    uint64_t id = fs->m_nextReader++;
    Reader &reader = fs->m_readers[id];
    bool othersOpen = fs->m_readers.size() > 1;
    if (!othersOpen) {
        reader.queue.swap(fs->m_backlog);
        fs->m_backlog.clear();
    }
    fi->fh = id;
    // Each read() must reach us with the caller's exact size (it decides the
    // record layout) and nothing may be cached.
    fi->direct_io = 1;
    fi->nonseekable = 1;
    fuse_reply_open(req, fi);
}

void EvdevFs::opRead(fuse_req_t req, fuse_ino_t, size_t size, off_t, fuse_file_info *fi)
{
    EvdevFs *fs = self(req);
    int pid = requesterPid(req);
    auto it = fs->m_readers.find(fi->fh);
    int err = 0;
    if (it == fs->m_readers.end() || it->second.dead)
        err = ENODEV;
    else if (size != 0 && (size < std::min(nativeRecordSize, compatRecordSize) ||
                           (size < nativeRecordSize && recordSizeFor(size) == nativeRecordSize)))
        err = EINVAL;
    else if (size != 0 && it->second.queue.empty() && (fi->flags & O_NONBLOCK))
        err = EAGAIN;
    if (err) {
        fs->logRead(pid, std::string(), -err);
        fuse_reply_err(req, err);
        return;
    }
    Reader &reader = it->second;
    PendingRead read{req, size, pid};
    if (size == 0 || !reader.queue.empty()) {
        fs->answerRead(reader, read);
        return;
    }
    reader.reads.push_back(read);
    // Calls onInterrupt at once when the signal came before we saw the read.
    fuse_req_interrupt_func(req, onInterrupt, fs);
}

void EvdevFs::opWrite(fuse_req_t req, fuse_ino_t, const char *buf, size_t size, off_t,
                      fuse_file_info *)
{
    EvdevFs *fs = self(req);
    Transcript::Entry e(requesterPid(req), "write", fs->m_path);
    e.hasHex = true;
    e.hex = std::string(buf, size);
    // The encoder takes no events from userspace.
    e.result = -EINVAL;
    fs->m_transcript.add(e);
    fuse_reply_err(req, EINVAL);
}

void EvdevFs::opFlush(fuse_req_t req, fuse_ino_t, fuse_file_info *)
{
    EvdevFs *fs = self(req);
    Transcript::Entry e(requesterPid(req), "close", fs->m_path);
    fs->m_transcript.add(e);
    fuse_reply_err(req, 0);
}

void EvdevFs::opRelease(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
    EvdevFs *fs = self(req);
    auto it = fs->m_readers.find(fi->fh);
    if (it != fs->m_readers.end()) {
        for (const PendingRead &read : it->second.reads)
            fuse_reply_err(read.req, EBADF);
        if (it->second.pollHandle)
            fuse_pollhandle_destroy(it->second.pollHandle);
        fs->m_readers.erase(it);
    }
    fuse_reply_err(req, 0);
}

void EvdevFs::opIoctl(fuse_req_t req, fuse_ino_t, unsigned int cmd, void *, fuse_file_info *fi,
                      unsigned, const void *, size_t, size_t outBufSize)
{
    EvdevFs *fs = self(req);
    auto it = fs->m_readers.find(fi->fh);
    std::string answer;
    int err = 0;
    long result = 0;
    const unsigned nr = _IOC_NR(cmd);
    const bool readType = _IOC_TYPE(cmd) == 'E' && _IOC_DIR(cmd) == _IOC_READ;
    if (it == fs->m_readers.end() || it->second.dead) {
        err = ENODEV;
    } else if (fs->m_ioctlFails) {
        err = ENOTTY;
    } else if (readType && nr >= _IOC_NR(EVIOCGABS(0)) && nr <= _IOC_NR(EVIOCGABS(ABS_MAX))) {
        // The encoder is an unbounded absolute axis: it counts steps since power-on.
        input_absinfo info{};
        if (nr == _IOC_NR(EVIOCGABS(ABS_X))) {
            info.value = fs->m_position;
            info.minimum = INT_MIN;
            info.maximum = INT_MAX;
        }
        answer.assign(reinterpret_cast<const char *>(&info), sizeof(info));
    } else if (cmd == EVIOCGVERSION) {
        int version = EV_VERSION;
        answer.assign(reinterpret_cast<const char *>(&version), sizeof(version));
    } else if (cmd == EVIOCGID) {
        input_id id{BUS_HOST, 0x0001, 0x0001, 0x0100};
        answer.assign(reinterpret_cast<const char *>(&id), sizeof(id));
    } else if (readType && nr == _IOC_NR(EVIOCGNAME(0))) {
        static const char name[] = "boardsim rotary encoder";
        answer.assign(name, std::min(sizeof(name), size_t(_IOC_SIZE(cmd))));
        result = long(answer.size());
    } else if (readType && nr >= _IOC_NR(EVIOCGBIT(0, 0)) && nr < _IOC_NR(EVIOCGBIT(EV_MAX, 0))) {
        std::string bits(_IOC_SIZE(cmd), '\0');
        unsigned type = nr - _IOC_NR(EVIOCGBIT(0, 0));
        auto setBit = [&bits](unsigned bit) {
            if (bit / 8 < bits.size())
                bits[bit / 8] = char(bits[bit / 8] | (1 << (bit % 8)));
        };
        if (type == 0) {
            setBit(EV_SYN);
            setBit(EV_ABS);
        } else if (type == EV_ABS) {
            setBit(ABS_X);
        }
        answer = bits;
        result = long(bits.size());
    } else {
        err = EINVAL; // what evdev answers to requests it does not know
    }
    if (answer.size() > outBufSize)
        answer.resize(outBufSize);
    Transcript::Entry e(requesterPid(req), "ioctl", fs->m_path);
    e.request = hexRequest(cmd);
    e.hasHex = true;
    e.hex = answer;
    e.result = err ? -err : result;
    fs->m_transcript.add(e);
    if (err)
        fuse_reply_err(req, err);
    else
        fuse_reply_ioctl(req, int(result), answer.data(), answer.size());
}

void EvdevFs::opPoll(fuse_req_t req, fuse_ino_t, fuse_file_info *fi, fuse_pollhandle *ph)
{
    EvdevFs *fs = self(req);
    auto it = fs->m_readers.find(fi->fh);
    unsigned revents = POLLERR | POLLHUP;
    if (it != fs->m_readers.end() && !it->second.dead) {
        Reader &reader = it->second;
        revents = POLLOUT | POLLWRNORM;
        if (!reader.queue.empty())
            revents |= POLLIN | POLLRDNORM;
        if (ph) {
            if (reader.pollHandle)
                fuse_pollhandle_destroy(reader.pollHandle);
            reader.pollHandle = ph;
            ph = nullptr;
        }
    }
    if (ph)
        fuse_pollhandle_destroy(ph);
    fuse_reply_poll(req, revents);
}
