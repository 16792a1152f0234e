// Built with _TIME_BITS=64 (see CMakeLists.txt), the default of newer 32-bit ARM distributions:
// struct timeval grows to 16 bytes there, yet the 32-bit kernel interface still hands out 16-byte
// records, so the record must not grow with it. Checked as the ARM build compiles this unit; the
// reader checks the same layout under the default time_t.
#include <cstddef>
#include <linux/input.h>

static_assert(sizeof(time_t) == 8, "this unit must be compiled with _TIME_BITS=64");
static_assert(sizeof(input_event) == 16 && offsetof(input_event, input_event_sec) == 0 &&
                  offsetof(input_event, input_event_usec) == 4 &&
                  offsetof(input_event, type) == 8 && offsetof(input_event, code) == 10 &&
                  offsetof(input_event, value) == 12,
              "the board's record layout under a 64-bit time_t");
