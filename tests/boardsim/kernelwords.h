#pragma once

// How the kernel tests write what a call answered, so that a row reads as one line:
// an errno by its name, a count as a number, line ends escaped as in C.

#include <QByteArray>
#include <QString>

#include <cstring>

inline QString errnoName(int err)
{
    const char *name = strerrorname_np(err);
    return name ? QString(name) : QString::number(err);
}

// A count, or -errno.
inline QString result(long n)
{
    return n < 0 ? errnoName(int(-n)) : QString::number(n);
}

inline QByteArray unescaped(QString text)
{
    return text.replace("\\n", "\n").replace("\\r", "\r").replace("\\0", QChar(0)).toUtf8();
}
