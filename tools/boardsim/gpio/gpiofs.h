#pragma once

#include "fuse/fusemount.h"
#include "gpio/gpiolines.h"

#include <string>
#include <sys/stat.h>
#include <vector>

class Transcript;

// The legacy sysfs GPIO interface (/sys/class/gpio) as the kernel presents it:
// export/unexport files, the chip's gpiochip0 directory, and per exported line
// a gpioN directory with direction, value and active_low. Lines 0..255 exist,
// on one chip; a write that the kernel would reject fails with the kernel's
// errno.
class GpioFs
{
public:
    static constexpr int lineCount = GpioLines::count;
    using Line = GpioLines::Line;

    explicit GpioFs(Transcript &transcript);

    // --no-gpio-export: the board's kernel was built without the export file.
    void setExportMissing(bool missing) { m_exportMissing = missing; }
    // --refuse-export: these lines fail to export with EINVAL, as lines that
    // do not exist on the board's GPIO chips.
    void refuseExport(int line) { m_lines.refuseExport(line); }
    // Exported before the command runs, as the board's init scripts do.
    void preExport(int line, bool output, bool high) { m_lines.preExport(line, output, high); }

    bool mount(const std::string &mountPoint, std::string *error);
    FuseMount &fuse() { return m_fuse; }

    const Line &line(int n) const { return m_lines.line(n); }

private:
    enum Node
    {
        Root = 1,
        Export = 2,
        Unexport = 3,
        // gpiochip_sysfs_register(): the chip's directory and its read-only attributes.
        Chip = 4,
        ChipBase = 5,
        ChipLabel = 6,
        ChipNgpio = 7,
        // A line's nodes, lineIno(line, node).
        LineDir = 0,
        Direction = 1,
        Value = 2,
        ActiveLow = 3
    };
    static constexpr fuse_ino_t lineBase = 16;

    static fuse_ino_t lineIno(int line, int node) { return lineBase + fuse_ino_t(line) * 4 + node; }
    bool decode(fuse_ino_t ino, int *line, int *node) const;
    bool nodeStat(fuse_ino_t ino, struct stat *st) const;
    std::string nodePath(fuse_ino_t ino) const;
    std::string readContent(fuse_ino_t ino) const;
    int writeNode(fuse_ino_t ino, const std::string &data);

    static GpioFs *self(fuse_req_t req);
    static void opLookup(fuse_req_t req, fuse_ino_t parent, const char *name);
    static void opGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi);
    static void opSetattr(fuse_req_t req, fuse_ino_t ino, struct stat *attr, int toSet,
                          fuse_file_info *fi);
    static void opReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off,
                          fuse_file_info *fi);
    static void opOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi);
    static void opCreate(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t mode,
                         fuse_file_info *fi);
    static void opMknod(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t mode,
                        dev_t rdev);
    static void opRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info *fi);
    static void opWrite(fuse_req_t req, fuse_ino_t ino, const char *buf, size_t size, off_t off,
                        fuse_file_info *fi);
    static void opFlush(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi);
    static void opRelease(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi);

    Transcript &m_transcript;
    FuseMount m_fuse;
    std::string m_mountPoint;
    GpioLines m_lines;
    bool m_exportMissing = false;
};
