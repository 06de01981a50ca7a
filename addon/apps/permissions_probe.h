// The live accessibility probe: trust can be stale, so ask a real
// application for its role and see whether the platform answers.
#pragma once

#include <cstdint>

namespace addon {

struct AccessibilityProbeResult {
  bool ok = false;
  int32_t error = -25200;  // the platform's accessibility error; 0 when ok
};

AccessibilityProbeResult RunAccessibilityProbe();

// Screen-recording preflight as a status string: "granted", "denied", or
// "unknown" when the platform has no preflight entry.
const char* ScreenCaptureStatusString();

}  // namespace addon
