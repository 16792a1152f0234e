#include "sysfile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int SysFile::write(const char *path, const QByteArray &data)
{
    int fd = ::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    ssize_t n = ::write(fd, data.constData(), size_t(data.size()));
    int err = errno;
    ::close(fd);
    return n < 0 ? -err : int(n);
}

int SysFile::read(const char *path, QByteArray *data)
{
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof(buf));
    int err = errno;
    ::close(fd);
    if (n < 0)
        return -err;
    *data = QByteArray(buf, int(n));
    return int(n);
}
