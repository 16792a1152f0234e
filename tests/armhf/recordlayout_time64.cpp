#include "recordlayout.h"

// Built with _TIME_BITS=64 (see CMakeLists.txt): struct timeval grows to 16
// bytes there, and the record must not grow with it, because the 32-bit
// kernel interface still hands out 16-byte records.
#include <linux/input.h>

// glibc turns _TIME_BITS=64 into __USE_TIME_BITS64, the macro the kernel's
// header looks at; without it this unit would measure the default layout twice.
#if !defined(__USE_TIME_BITS64)
#error "this unit must be compiled with _TIME_BITS=64"
#endif

RecordLayout RecordLayout::time64()
{
    return {sizeof(input_event),
            offsetof(input_event, input_event_sec),
            offsetof(input_event, input_event_usec),
            offsetof(input_event, type),
            offsetof(input_event, code),
            offsetof(input_event, value)};
}
