#include "gpio/gpiofs.h"

#include "control/transcript.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

GpioFs::GpioFs(Transcript &transcript) : m_transcript(transcript) {}

bool GpioFs::mount(const std::string &mountPoint, std::string *error)
{
    fuse_lowlevel_ops ops{};
    ops.lookup = opLookup;
    ops.getattr = opGetattr;
    ops.setattr = opSetattr;
    ops.readdir = opReaddir;
    ops.open = opOpen;
    ops.create = opCreate;
    ops.mknod = opMknod;
    ops.read = opRead;
    ops.write = opWrite;
    ops.flush = opFlush;
    ops.release = opRelease;
    m_mountPoint = mountPoint;
    return m_fuse.mount(mountPoint, "boardsim-gpio", ops, this, error);
}

bool GpioFs::decode(fuse_ino_t ino, int *line, int *node) const
{
    if (ino < lineBase)
        return false;
    fuse_ino_t rel = ino - lineBase;
    *line = int(rel / 4);
    *node = int(rel % 4);
    return *line < lineCount && *node <= ActiveLow && m_lines.isExported(*line);
}

bool GpioFs::nodeStat(fuse_ino_t ino, struct stat *st) const
{
    std::memset(st, 0, sizeof(*st));
    st->st_ino = ino;
    st->st_nlink = 1;
    int line = 0;
    int node = 0;
    if (ino == Root || ino == Chip) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
    } else if (ino == Export || ino == Unexport) {
        if (ino == Export && m_exportMissing)
            return false;
        // Write-only, like the kernel's attributes without a show method.
        st->st_mode = S_IFREG | 0200;
        st->st_size = 4096;
    } else if (ino >= ChipBase && ino <= ChipNgpio) {
        st->st_mode = S_IFREG | 0444;
        st->st_size = 4096;
    } else if (decode(ino, &line, &node)) {
        if (node == LineDir) {
            st->st_mode = S_IFDIR | 0755;
            st->st_nlink = 2;
        } else {
            st->st_mode = S_IFREG | 0644;
            st->st_size = 4096;
        }
    } else {
        return false;
    }
    return true;
}

std::string GpioFs::nodePath(fuse_ino_t ino) const
{
    if (ino == Root)
        return m_mountPoint;
    if (ino == Export)
        return m_mountPoint + "/export";
    if (ino == Unexport)
        return m_mountPoint + "/unexport";
    std::string chip = m_mountPoint + "/gpiochip0";
    switch (ino) {
    case Chip:
        return chip;
    case ChipBase:
        return chip + "/base";
    case ChipLabel:
        return chip + "/label";
    case ChipNgpio:
        return chip + "/ngpio";
    default:
        break;
    }
    if (ino < lineBase)
        return m_mountPoint;
    fuse_ino_t rel = ino - lineBase;
    std::string dir = m_mountPoint + "/gpio" + std::to_string(rel / 4);
    switch (rel % 4) {
    case Direction:
        return dir + "/direction";
    case Value:
        return dir + "/value";
    case ActiveLow:
        return dir + "/active_low";
    default:
        return dir;
    }
}

std::string GpioFs::readContent(fuse_ino_t ino) const
{
    if (ino == ChipBase)
        return "0\n";
    if (ino == ChipLabel)
        return "boardsim\n";
    if (ino == ChipNgpio)
        return std::to_string(lineCount) + "\n";
    int line = 0;
    int node = 0;
    if (!decode(ino, &line, &node))
        return std::string();
    const Line &l = m_lines.line(line);
    if (node == Direction)
        return l.output ? "out\n" : "in\n";
    if (node == Value)
        return m_lines.value(line) ? "1\n" : "0\n";
    if (node == ActiveLow)
        return l.activeLow ? "1\n" : "0\n";
    return std::string();
}

// Returns 0 or a negative errno, as the kernel's store methods do.
int GpioFs::writeNode(fuse_ino_t ino, const std::string &data)
{
    if (ino == Export)
        return m_lines.exportStore(data);
    if (ino == Unexport)
        return m_lines.unexportStore(data);
    int line = 0;
    int node = 0;
    if (!decode(ino, &line, &node))
        return -ENODEV;
    if (node == Direction)
        return m_lines.directionStore(line, data);
    if (node == Value)
        return m_lines.valueStore(line, data);
    if (node == ActiveLow)
        return m_lines.activeLowStore(line, data);
    return -EIO;
}

GpioFs *GpioFs::self(fuse_req_t req)
{
    return static_cast<GpioFs *>(fuse_req_userdata(req));
}

static void replyEntry(fuse_req_t req, const struct stat &st)
{
    // No caching at all: an export must be visible to the very next open, and
    // an unexported line must vanish at once.
    fuse_entry_param e{};
    e.ino = st.st_ino;
    e.attr = st;
    e.attr_timeout = 0;
    e.entry_timeout = 0;
    fuse_reply_entry(req, &e);
}

void GpioFs::opLookup(fuse_req_t req, fuse_ino_t parent, const char *name)
{
    GpioFs *fs = self(req);
    std::string n = name;
    fuse_ino_t ino = 0;
    int line = 0;
    int node = 0;
    if (parent == Root) {
        if (n == "export")
            ino = Export;
        else if (n == "unexport")
            ino = Unexport;
        else if (n == "gpiochip0")
            ino = Chip;
        else if (n.size() > 4 && n.compare(0, 4, "gpio") == 0 &&
                 n.find_first_not_of("0123456789", 4) == std::string::npos &&
                 (n[4] != '0' || n.size() == 5) && n.size() <= 8) {
            ino = lineIno(std::atoi(n.c_str() + 4), LineDir);
        }
    } else if (parent == Chip) {
        if (n == "base")
            ino = ChipBase;
        else if (n == "label")
            ino = ChipLabel;
        else if (n == "ngpio")
            ino = ChipNgpio;
    } else if (fs->decode(parent, &line, &node) && node == LineDir) {
        if (n == "direction")
            ino = lineIno(line, Direction);
        else if (n == "value")
            ino = lineIno(line, Value);
        else if (n == "active_low")
            ino = lineIno(line, ActiveLow);
    }
    struct stat st;
    if (ino == 0 || !fs->nodeStat(ino, &st)) {
        // An open of a file that is not there never reaches open(); the failed
        // lookup is what shows that the program tried it.
        Transcript::Entry e(requesterPid(req), "lookup", fs->nodePath(parent) + "/" + n);
        e.result = -ENOENT;
        fs->m_transcript.add(e);
        fuse_reply_err(req, ENOENT);
        return;
    }
    replyEntry(req, st);
}

void GpioFs::opGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *)
{
    struct stat st;
    if (!self(req)->nodeStat(ino, &st)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    fuse_reply_attr(req, &st, 0);
}

// Reached for O_TRUNC when the kernel does not pass it with the open: sysfs
// files ignore truncation, so report the unchanged attributes.
void GpioFs::opSetattr(fuse_req_t req, fuse_ino_t ino, struct stat *, int, fuse_file_info *fi)
{
    opGetattr(req, ino, fi);
}

void GpioFs::opReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info *)
{
    GpioFs *fs = self(req);
    std::vector<FuseDirEntry> entries = {{".", ino, S_IFDIR}, {"..", Root, S_IFDIR}};
    int line = 0;
    int node = 0;
    if (ino == Root) {
        if (!fs->m_exportMissing)
            entries.push_back({"export", Export, S_IFREG});
        entries.push_back({"unexport", Unexport, S_IFREG});
        entries.push_back({"gpiochip0", Chip, S_IFDIR});
        for (int i = 0; i < lineCount; ++i) {
            if (fs->m_lines.isExported(i))
                entries.push_back({"gpio" + std::to_string(i), lineIno(i, LineDir), S_IFDIR});
        }
    } else if (fs->decode(ino, &line, &node) && node == LineDir) {
        entries.push_back({"direction", lineIno(line, Direction), S_IFREG});
        entries.push_back({"value", lineIno(line, Value), S_IFREG});
        entries.push_back({"active_low", lineIno(line, ActiveLow), S_IFREG});
    } else if (ino == Chip) {
        entries.push_back({"base", ChipBase, S_IFREG});
        entries.push_back({"label", ChipLabel, S_IFREG});
        entries.push_back({"ngpio", ChipNgpio, S_IFREG});
    } else {
        fuse_reply_err(req, ENOTDIR);
        return;
    }
    replyDirectory(req, size, off, entries);
}

// kernfs_fop_open(): a read of a file without a read bit in its mode, or a write
// without a write bit, is EACCES whoever asks, root too (export has no show
// method, a chip's attributes no store method).
static bool modeAllows(mode_t mode, int flags)
{
    const int access = flags & O_ACCMODE;
    const bool readable = mode & (S_IRUSR | S_IRGRP | S_IROTH);
    const bool writable = mode & (S_IWUSR | S_IWGRP | S_IWOTH);
    return (access == O_WRONLY || readable) && (access == O_RDONLY || writable);
}

void GpioFs::opOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    GpioFs *fs = self(req);
    struct stat st;
    int err = 0;
    if (!fs->nodeStat(ino, &st))
        err = ENOENT;
    else if (!modeAllows(st.st_mode, fi->flags))
        err = EACCES;
    Transcript::Entry e(requesterPid(req), "open", fs->nodePath(ino));
    e.hasFlags = true;
    e.flags = Transcript::openFlags(fi->flags);
    e.result = -err;
    fs->m_transcript.add(e);
    if (err) {
        fuse_reply_err(req, err);
        return;
    }
    // Every read and write must reach us with the caller's exact bytes; the
    // page cache would merge writes and serve stale values.
    fi->direct_io = 1;
    fuse_reply_open(req, fi);
}

void GpioFs::opCreate(fuse_req_t req, fuse_ino_t, const char *, mode_t, fuse_file_info *)
{
    fuse_reply_err(req, EACCES); // sysfs never lets userspace create files
}

void GpioFs::opMknod(fuse_req_t req, fuse_ino_t, const char *, mode_t, dev_t)
{
    fuse_reply_err(req, EACCES);
}

void GpioFs::opRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info *)
{
    GpioFs *fs = self(req);
    struct stat st;
    int err = fs->nodeStat(ino, &st) ? 0 : ENODEV;
    std::string content = fs->readContent(ino);
    std::string out;
    if (!err && size_t(off) < content.size())
        out = content.substr(size_t(off), size);
    Transcript::Entry e(requesterPid(req), "read", fs->nodePath(ino));
    e.hasBytes = true;
    e.bytes = out;
    e.result = err ? -err : long(out.size());
    fs->m_transcript.add(e);
    if (err)
        fuse_reply_err(req, err);
    else
        fuse_reply_buf(req, out.data(), out.size());
}

void GpioFs::opWrite(fuse_req_t req, fuse_ino_t ino, const char *buf, size_t size, off_t,
                     fuse_file_info *)
{
    GpioFs *fs = self(req);
    std::string data(buf, size);
    int res = fs->writeNode(ino, data);
    Transcript::Entry e(requesterPid(req), "write", fs->nodePath(ino));
    e.hasBytes = true;
    e.bytes = data;
    e.result = res < 0 ? res : long(size);
    fs->m_transcript.add(e);
    if (res < 0)
        fuse_reply_err(req, -res);
    else
        fuse_reply_write(req, size);
}

// The kernel sends FLUSH synchronously from close(), RELEASE only later and
// asynchronously; logging the close here keeps the transcript in the order
// the product did things.
void GpioFs::opFlush(fuse_req_t req, fuse_ino_t ino, fuse_file_info *)
{
    GpioFs *fs = self(req);
    Transcript::Entry e(requesterPid(req), "close", fs->nodePath(ino));
    e.result = 0;
    fs->m_transcript.add(e);
    fuse_reply_err(req, 0);
}

void GpioFs::opRelease(fuse_req_t req, fuse_ino_t, fuse_file_info *)
{
    fuse_reply_err(req, 0);
}
