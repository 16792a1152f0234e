#pragma once

#include "evdev/evdevclient.h"

#include <cstddef>
#include <string>

// The records read() returns and write() takes on an evdev node: struct
// input_event as the caller's ABI lays it out. `compat` is a 32-bit task's
// layout (struct input_event_compat), whatever the size of its buffer.

// input_event_size(): 24 bytes, 16 for a 32-bit task.
size_t evdevRecordSize(bool compat);
// input_event_to_user()
std::string encodeEvdevRecord(const EvdevEvent &event, bool compat);
// input_event_from_user(): `record` holds evdevRecordSize(compat) bytes; the
// time the caller wrote is not kept, as the input core stamps its own.
EvdevEvent decodeEvdevRecord(const char *record, bool compat);
