// The process-wide switch that forbids focus stealing. While it is set every
// activation export refuses, and the global keyboard and mouse exports consult
// it too. Host thread only.
#pragma once

namespace addon {

bool FocusStealPrevented();

}  // namespace addon
