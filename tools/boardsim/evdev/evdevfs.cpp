#include "evdev/evdevfs.h"

#include "evdev/evdevioctl.h"
#include "evdev/evdevrecord.h"

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
constexpr fuse_ino_t firstNodeIno = 2;

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

EvdevFs::EvdevFs(Transcript &transcript) : m_log(transcript) {}

EvdevFs::~EvdevFs()
{
    for (auto &r : m_readers) {
        if (r.second.pollHandle)
            fuse_pollhandle_destroy(r.second.pollHandle);
    }
}

void EvdevFs::addDevice(const EvdevDevice &device)
{
    m_nodes.push_back(Node{InputCore(device), EvdevGrab(), false, false});
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
    m_mountPoint = mountPoint;
    inputGroup(); // looked up now, not inside a request
    return m_fuse.mount(mountPoint, "boardsim-evdev", ops, this, error);
}

EvdevFs::Node *EvdevFs::find(const std::string &node)
{
    for (Node &n : m_nodes) {
        if (n.core.device().node == node)
            return &n;
    }
    return nullptr;
}

const EvdevFs::Node *EvdevFs::find(const std::string &node) const
{
    return const_cast<EvdevFs *>(this)->find(node);
}

EvdevDevice *EvdevFs::device(const std::string &node)
{
    Node *n = find(node);
    return n ? &n->core.device() : nullptr;
}

std::string EvdevFs::path(size_t node) const
{
    return m_mountPoint + "/" + m_nodes[node].core.device().node;
}

bool EvdevFs::report(const std::string &name, unsigned type, unsigned code, int value)
{
    Node *node = find(name);
    if (!node)
        return false;
    if (node->gone)
        return true;
    if (node->core.handleEvent(type, code, value))
        passToReaders(size_t(node - m_nodes.data()), node->core.packet());
    return true;
}

bool EvdevFs::inject(const std::string &name, unsigned type, unsigned code, int value)
{
    Node *node = find(name);
    if (!node)
        return false;
    if (node->gone)
        return true;
    node->core.follow(type, code, value);
    passToReaders(size_t(node - m_nodes.data()),
                  {{timeval{}, uint16_t(type), uint16_t(code), int32_t(value)}});
    return true;
}

// evdev_events(): every open file gets the packet, stamped with the same
// moment, or only the one that grabbed the device.
void EvdevFs::passToReaders(size_t node, const std::vector<EvdevEvent> &values)
{
    const EvdevTimes times = EvdevTimes::now();
    const EvdevGrab &grab = m_nodes[node].grab;
    for (auto &entry : m_readers) {
        Reader &reader = entry.second;
        if (reader.node == node && !reader.dead && grab.reaches(entry.first) &&
            reader.client.passValues(values, times))
            wake(reader);
    }
}

int EvdevFs::pendingRecords(const std::string &name) const
{
    const Node *node = find(name);
    int least = -1;
    for (const auto &entry : m_readers) {
        const Reader &reader = entry.second;
        if (node && &m_nodes[reader.node] == node && !reader.dead)
            least = least < 0 ? int(reader.client.unread())
                              : std::min(least, int(reader.client.unread()));
    }
    return std::max(least, 0);
}

int EvdevFs::readerCount(const std::string &name) const
{
    const Node *node = find(name);
    return int(std::count_if(m_readers.begin(), m_readers.end(), [&](const auto &entry) {
        return node && &m_nodes[entry.second.node] == node;
    }));
}

bool EvdevFs::isGone(const std::string &name) const
{
    const Node *node = find(name);
    return !node || node->gone;
}

void EvdevFs::setIoctlFails(const std::string &name, bool fails)
{
    if (Node *node = find(name))
        node->ioctlFails = fails;
}

bool EvdevFs::ioctlFails(const std::string &name) const
{
    const Node *node = find(name);
    return node && node->ioctlFails;
}

// evdev_disconnect(): the device is marked dead and every waiter woken
// (evdev_hangup()); their reads and polls then see it gone. A device that
// comes back is a new one: the files open on the old one stay dead.
void EvdevFs::setGone(const std::string &name, bool gone)
{
    Node *node = find(name);
    if (!node || node->gone == gone)
        return;
    node->gone = gone;
    node->core.dropPacket();
    node->grab.release();
    if (!gone)
        return;
    for (auto &entry : m_readers) {
        Reader &reader = entry.second;
        if (&m_nodes[reader.node] != node)
            continue;
        reader.dead = true;
        wake(reader);
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

// The blocked reads wake as evdev's wait_event_interruptible() does: with
// ENODEV on a dead device, with records once a packet is complete; the rest
// wait on.
void EvdevFs::wake(Reader &reader)
{
    while (!reader.reads.empty() && (reader.dead || reader.client.hasPacket())) {
        const PendingRead read = reader.reads.front();
        reader.reads.pop_front();
        if (reader.dead)
            answerRead(read, std::string(), ENODEV);
        else
            answerRead(read, takeRecords(reader, read.size), 0);
    }
    wakePoller(reader);
}

void EvdevFs::wakePoller(Reader &reader)
{
    if (!reader.pollHandle)
        return;
    fuse_lowlevel_notify_poll(reader.pollHandle);
    fuse_pollhandle_destroy(reader.pollHandle);
    reader.pollHandle = nullptr;
}

std::string EvdevFs::takeRecords(Reader &reader, size_t size)
{
    std::string out;
    EvdevEvent event;
    while (out.size() + recordSize() <= size && reader.client.fetch(&event))
        out += encodeEvdevRecord(event, m_compat32);
    return out;
}

void EvdevFs::answerRead(const PendingRead &read, const std::string &bytes, int error)
{
    m_log.bytes(read.pid, "read", path(read.node), bytes, error ? -error : long(bytes.size()));
    if (error)
        fuse_reply_err(read.req, error);
    else
        fuse_reply_buf(read.req, bytes.data(), bytes.size());
}

size_t EvdevFs::recordSize() const
{
    return evdevRecordSize(m_compat32);
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
            const PendingRead read = *it;
            reads.erase(it);
            answerRead(read, std::string(), EINTR);
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

// `present` is false for a node that vanished: its name is gone, though a
// descriptor still open keeps its inode.
static bool evdevStat(fuse_ino_t ino, size_t nodeCount, bool present, struct stat *st)
{
    std::memset(st, 0, sizeof(*st));
    st->st_ino = ino;
    if (ino == rootIno) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return true;
    }
    if (ino >= firstNodeIno && ino < firstNodeIno + nodeCount && present) {
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
    const Node *node = parent == rootIno ? fs->find(name) : nullptr;
    struct stat st;
    if (!node || node->gone) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    fuse_entry_param e{};
    e.ino = firstNodeIno + fuse_ino_t(node - fs->m_nodes.data());
    evdevStat(e.ino, fs->m_nodes.size(), true, &st);
    e.attr = st;
    fuse_reply_entry(req, &e); // zero time-outs: a vanished device must vanish at once
}

void EvdevFs::opGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *)
{
    EvdevFs *fs = self(req);
    struct stat st;
    if (!evdevStat(ino, fs->m_nodes.size(), true, &st)) {
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
    for (size_t i = 0; i < fs->m_nodes.size(); ++i) {
        if (!fs->m_nodes[i].gone)
            entries.push_back({fs->m_nodes[i].core.device().node, firstNodeIno + i, S_IFREG});
    }
    replyDirectory(req, size, off, entries);
}

// evdev_open(): the client's buffer is made now, so it holds only what
// arrives from here on.
void EvdevFs::opOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    EvdevFs *fs = self(req);
    const size_t node = size_t(ino - firstNodeIno);
    const bool exists = ino >= firstNodeIno && node < fs->m_nodes.size() && !fs->m_nodes[node].gone;
    const int err = exists ? 0 : ENOENT;
    fs->m_log.open(requesterPid(req), exists ? fs->path(node) : fs->m_mountPoint, fi->flags, err);
    if (err) {
        fuse_reply_err(req, err);
        return;
    }
    const uint64_t id = fs->m_nextReader++;
    fs->m_readers.emplace(
        id,
        Reader{
            node, EvdevClient(fs->m_nodes[node].core.device().bufferSize()), {}, nullptr, false});
    fi->fh = id;
    // Each read() must reach us with the caller's size and nothing may be cached.
    fi->direct_io = 1;
    fi->nonseekable = 1;
    fuse_reply_open(req, fi);
}

// evdev_read(): EINVAL below one record, ENODEV once the device is gone,
// EAGAIN without a complete packet for O_NONBLOCK, 0 for a read of 0, else
// whole records; a blocking read waits for a packet.
void EvdevFs::opRead(fuse_req_t req, fuse_ino_t, size_t size, off_t, fuse_file_info *fi)
{
    EvdevFs *fs = self(req);
    const int pid = requesterPid(req);
    auto it = fs->m_readers.find(fi->fh);
    if (it == fs->m_readers.end()) {
        fuse_reply_err(req, EBADF);
        return;
    }
    Reader &reader = it->second;
    const PendingRead read{req, size, pid, reader.node};
    int err = 0;
    if (size != 0 && size < fs->recordSize())
        err = EINVAL;
    else if (reader.dead)
        err = ENODEV;
    else if (!reader.client.hasPacket() && (fi->flags & O_NONBLOCK))
        err = EAGAIN;
    if (err || size == 0 || reader.client.hasPacket()) {
        fs->answerRead(read, err ? std::string() : fs->takeRecords(reader, size), err);
        return;
    }
    reader.reads.push_back(read);
    // Calls onInterrupt at once when the signal came before we saw the read.
    fuse_req_interrupt_func(req, onInterrupt, fs);
}

// evdev_write(): whole records of the caller's ABI go to the input core as
// the device's own events (input_inject_event()); a partial record is left.
void EvdevFs::opWrite(fuse_req_t req, fuse_ino_t, const char *buf, size_t size, off_t,
                      fuse_file_info *fi)
{
    EvdevFs *fs = self(req);
    auto it = fs->m_readers.find(fi->fh);
    if (it == fs->m_readers.end()) {
        fuse_reply_err(req, EBADF);
        return;
    }
    const size_t node = it->second.node;
    long result = 0;
    if (size != 0 && size < fs->recordSize())
        result = -EINVAL;
    else if (it->second.dead)
        result = -ENODEV;
    else {
        for (; size_t(result) + fs->recordSize() <= size; result += long(fs->recordSize())) {
            const EvdevEvent event = decodeEvdevRecord(buf + result, fs->m_compat32);
            fs->report(fs->m_nodes[node].core.device().node, event.type, event.code, event.value);
        }
    }
    fs->m_log.bytes(requesterPid(req), "write", fs->path(node), std::string(buf, size), result);
    if (result < 0)
        fuse_reply_err(req, int(-result));
    else
        fuse_reply_write(req, size_t(result));
}

void EvdevFs::opFlush(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
    EvdevFs *fs = self(req);
    auto it = fs->m_readers.find(fi->fh);
    fs->m_log.close(requesterPid(req),
                    it == fs->m_readers.end() ? fs->m_mountPoint : fs->path(it->second.node));
    fuse_reply_err(req, 0);
}

// evdev_release(): the client and its buffer go.
void EvdevFs::opRelease(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
    EvdevFs *fs = self(req);
    auto it = fs->m_readers.find(fi->fh);
    if (it != fs->m_readers.end()) {
        fs->m_nodes[it->second.node].grab.ungrab(it->first); // evdev_release() ungrabs
        for (const PendingRead &read : it->second.reads)
            fuse_reply_err(read.req, EBADF);
        if (it->second.pollHandle)
            fuse_pollhandle_destroy(it->second.pollHandle);
        fs->m_readers.erase(it);
    }
    fuse_reply_err(req, 0);
}

// evdev_ioctl_handler(): ENODEV on a dead device, else evdev_do_ioctl().
void EvdevFs::opIoctl(fuse_req_t req, fuse_ino_t, unsigned int cmd, void *, fuse_file_info *fi,
                      unsigned, const void *inBuf, size_t inBufSize, size_t outBufSize)
{
    EvdevFs *fs = self(req);
    auto it = fs->m_readers.find(fi->fh);
    if (it == fs->m_readers.end()) {
        fuse_reply_err(req, EBADF);
        return;
    }
    Reader &reader = it->second;
    Node &node = fs->m_nodes[reader.node];
    EvdevIoctlAnswer answer;
    if (reader.dead)
        answer.result = -ENODEV;
    else if (node.ioctlFails)
        answer.result = -ENOTTY;
    else if (cmd == EVIOCGRAB && inBufSize >= sizeof(int)) {
        int on = 0;
        std::memcpy(&on, inBuf, sizeof(on));
        answer.result = on ? node.grab.grab(it->first) : node.grab.ungrab(it->first);
    } else
        answer =
            evdevIoctl(node.core.device(), reader.client, cmd,
                       std::string(static_cast<const char *>(inBuf), inBufSize), fs->m_compat32);
    if (answer.bytes.size() > outBufSize)
        answer.bytes.resize(outBufSize);
    fs->m_log.ioctl(requesterPid(req), fs->path(reader.node), cmd, answer.bytes, answer.result);
    if (answer.result < 0)
        fuse_reply_err(req, -answer.result);
    else
        fuse_reply_ioctl(req, answer.result, answer.bytes.data(), answer.bytes.size());
}

// evdev_poll(): writable while the device lives, POLLERR|POLLHUP once it is
// gone, readable when a packet is complete.
void EvdevFs::opPoll(fuse_req_t req, fuse_ino_t, fuse_file_info *fi, fuse_pollhandle *ph)
{
    EvdevFs *fs = self(req);
    auto it = fs->m_readers.find(fi->fh);
    unsigned revents = POLLERR | POLLHUP;
    if (it != fs->m_readers.end()) {
        Reader &reader = it->second;
        revents = reader.dead ? POLLERR | POLLHUP : POLLOUT | POLLWRNORM;
        if (reader.client.hasPacket())
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
