#pragma once

#include <cerrno>
#include <string>
#include <unistd.h>

// All of `text` to `fd`, through short writes and signals; false on an error.
inline bool writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}
