#pragma once

#include <string>

class Transcript;

// What the evdev nodes put in the transcript: records and ioctl answers as
// raw bytes (written out as hex), the ioctl's request by its number.
class EvdevLog
{
public:
    explicit EvdevLog(Transcript &transcript) : m_transcript(transcript) {}

    void open(int pid, const std::string &path, int flags, int error);
    void close(int pid, const std::string &path);
    // A read or a write: `op` names it, `result` is the count or -errno.
    void bytes(int pid, const char *op, const std::string &path, const std::string &bytes,
               long result);
    void ioctl(int pid, const std::string &path, unsigned cmd, const std::string &bytes,
               long result);

private:
    Transcript &m_transcript;
};
