#include "input/background_focus_state.h"

#include "input/background_session.h"

extern "C" int64_t background_input_ms_since_focus_end_for_pid(int32_t pid) {
  return addon::MsSinceFocusEndForPid(pid);
}
