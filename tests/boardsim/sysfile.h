#pragma once

#include <QByteArray>

// Plain system calls on the simulated files, as the product and the kernel's
// own GPIO and evdev tools make them: each returns a count or -errno.
namespace SysFile {

// open write-only (with O_TRUNC, as QFile does), one write, close.
int write(const char *path, const QByteArray &data);
// open read-only, one read of up to 4096 bytes, close; -errno on failure.
int read(const char *path, QByteArray *data);

} // namespace SysFile
