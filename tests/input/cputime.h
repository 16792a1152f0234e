#pragma once

#include <sys/resource.h>

// CPU time the whole process has used so far, user and system, in milliseconds.
// A reader that spins on a dead device shows up here even after its errors
// stop being logged.
class CpuTime
{
public:
    static double processMs()
    {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    }
};
