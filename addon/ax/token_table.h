// The token and epoch tables without any Node-API type, so code and tests
// that never touch JavaScript can use them. tokens.h adds ResolveRef.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace addon {

extern std::mutex g_mutex;

// Issues a token for el. With an epoch the token belongs to that capture;
// without one it is ephemeral (bounded per pid and overall).
std::string StoreToken(const platform::AXElement& el, int32_t pid,
                       std::optional<uint64_t> epoch);
// Looks a token up; on success *out holds a new retained reference.
bool ResolveToken(const std::string& token, platform::AXElement* out);

// Draws the pid's next capture epoch (first is 1).
uint64_t NextCaptureEpoch(int32_t pid);
bool MarkCaptureEpochDelivered(int32_t pid, uint64_t epoch);
void DiscardCaptureEpoch(int32_t pid, uint64_t epoch);

// Armed after a capture draws its epoch: unless committed, the epoch is
// discarded when the guard goes away.
class CaptureEpochGuard {
 public:
  CaptureEpochGuard(int32_t pid, uint64_t epoch) : pid_(pid), epoch_(epoch) {}
  ~CaptureEpochGuard();
  CaptureEpochGuard(const CaptureEpochGuard&) = delete;
  CaptureEpochGuard& operator=(const CaptureEpochGuard&) = delete;
  void Commit();
  bool committed() const { return committed_; }
  uint64_t epoch() const { return epoch_; }

 private:
  int32_t pid_;
  uint64_t epoch_;
  bool committed_ = false;
};

}  // namespace addon
