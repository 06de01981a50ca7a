// Whether a window accepts left mouse-down, asked of the window server. An
// exported C function: the overlay and the mirroring panels call it too.
#pragma once

#include <cstdint>

extern "C" {
// True when the query succeeded; *out then says whether the window's event
// mask holds left mouse-down. False when out is null, window_id is 0, the
// window-server entries are absent, there is no connection, or the query
// fails.
__attribute__((visibility("default"))) bool OzaCopyWindowAcceptsLeftMouseDown(uint32_t window_id,
                                                                               bool* out);
}
