#pragma once

#include <QByteArray>

class QFile;

// Writes `text` to one sysfs GPIO file: open write-only, write, close. Every GPIO
// write of the check mode goes through here so that they all behave alike.
// The file is never held open, and the whole text reaches the kernel as one
// write on close, which is how sysfs attributes expect to be written: each
// write(2) is parsed on its own, from offset 0.
// Returns false when the file could not be opened; nothing was written then,
// and nothing is reported: a board (or a PC) without that line simply has no
// file for it. What the kernel makes of the write is not examined: an export
// of a line that is already exported is refused with EBUSY and is harmless.
bool writeGpio(QFile &file, const QByteArray &text);
