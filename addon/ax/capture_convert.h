// Conversion of a snapshot to JavaScript objects, with the documented key
// order. Keys are created once per conversion and reused for every object.
#pragma once

#include <napi.h>

#include "ax/capture_snapshot.h"

namespace addon {

// The snapshot object, or an empty value with a pending exception when a
// Node-API call failed.
Napi::Value CaptureSnapshotToNapi(Napi::Env env, const AxCaptureSnapshotData& snapshot);

}  // namespace addon
