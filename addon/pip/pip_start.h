// Starting panels: the legacy start and the asynchronous verified start
// (VerifiedPipStartWorker: one at a time, a 3.5 s deadline, results dropped
// when the request generation moved).
#pragma once

#include <napi.h>

#include <cstdint>
#include <string>

#include "pip/pip_stack.h"

namespace pip {

// Main thread. The legacy start; false when refused or failed.
bool PipLegacyStart(uint32_t window_id, double width, double height);

struct VerifiedStartRequest {
  uint32_t presentation_window_id = 0;
  uint32_t actual_window_id = 0;
  int32_t pid = 0;
  std::string bundle_id;
  double width = 0, height = 0;
  GroupKey group;
};

// Host thread. A promise of whether a panel now shows the target.
Napi::Value PipStartVerifiedAsyncImpl(Napi::Env env, const VerifiedStartRequest& request);

}  // namespace pip
