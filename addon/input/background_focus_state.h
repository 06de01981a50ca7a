// When background window input last ended a focus session for a process.
#pragma once

#include <cstdint>

extern "C" {
// Milliseconds since the last switched background focus session ended, when
// that session was for `pid`; -1 when the last one was for another pid or
// none happened. Never waits for a running background operation.
int64_t background_input_ms_since_focus_end_for_pid(int32_t pid);
}
