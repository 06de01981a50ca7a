// No background focus session is ever started in this build, so no process
// has one that ended.
#include "input/background_focus_state.h"

extern "C" int64_t background_input_ms_since_focus_end_for_pid(int32_t) { return -1; }
