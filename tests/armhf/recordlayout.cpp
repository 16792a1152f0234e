#include "recordlayout.h"

#include <linux/input.h>

// input_event_sec and input_event_usec name the time fields whichever way the
// headers lay them out (a struct timeval, or two kernel longs).
RecordLayout RecordLayout::native()
{
    return {sizeof(input_event),
            offsetof(input_event, input_event_sec),
            offsetof(input_event, input_event_usec),
            offsetof(input_event, type),
            offsetof(input_event, code),
            offsetof(input_event, value)};
}
