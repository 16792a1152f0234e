#include "evdev/evdevlog.h"

#include "control/transcript.h"

#include <cstdio>

namespace {

std::string hexRequest(unsigned int cmd)
{
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%08x", cmd);
    return buf;
}

} // namespace

void EvdevLog::open(int pid, const std::string &path, int flags, int error)
{
    Transcript::Entry e(pid, "open", path);
    e.hasFlags = true;
    e.flags = Transcript::openFlags(flags);
    e.result = -error;
    m_transcript.add(e);
}

void EvdevLog::close(int pid, const std::string &path)
{
    m_transcript.add(Transcript::Entry(pid, "close", path));
}

void EvdevLog::bytes(int pid, const char *op, const std::string &path, const std::string &bytes,
                     long result)
{
    Transcript::Entry e(pid, op, path);
    e.hasHex = true;
    e.hex = bytes;
    e.result = result;
    m_transcript.add(e);
}

void EvdevLog::ioctl(int pid, const std::string &path, unsigned cmd, const std::string &bytes,
                     long result)
{
    Transcript::Entry e(pid, "ioctl", path);
    e.request = hexRequest(cmd);
    e.hasHex = true;
    e.hex = bytes;
    e.result = result;
    m_transcript.add(e);
}
