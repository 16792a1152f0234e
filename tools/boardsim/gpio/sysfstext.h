#pragma once

#include <string>

// How the kernel's sysfs store methods read what a process wrote, apart from
// the file systems so that it can be checked without FUSE.

// kstrtol(buf, 0, ...): decimal, 0x hex or 0 octal with an optional sign,
// up to the first NUL,
// one trailing newline allowed, nothing else around it; 0 or -EINVAL, or
// -ERANGE for a number that does not fit a long.
int sysfsKstrtol(const std::string &written, long *value);

// sysfs_streq(): `written`, up to its first NUL, is `word`, or `word` and one
// trailing newline.
bool sysfsStreq(const std::string &written, const char *word);
