#include "gpiowrite.h"

#include <QFile>

bool writeGpio(QFile &file, const QByteArray &text)
{
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // QFile buffers the bytes and hands them to the kernel in one write(2) on
    // close; a refused write leaves nothing behind in the buffer, so the same
    // file object can carry the next text.
    file.write(text);
    file.close();
    return true;
}
