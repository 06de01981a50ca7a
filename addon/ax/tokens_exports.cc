// ackCaptureEpoch / releaseCaptureEpoch: the host tells which captures it
// received and which it no longer needs. Bad arguments answer false.
#include "ax/tokens.h"
#include "conventions.h"
#include "exports.h"

namespace addon {

namespace {
// The largest integer a JavaScript number holds exactly.
constexpr double kMaxSafeInteger = 9007199254740991.0;

bool ReadPidAndEpoch(const Napi::CallbackInfo& info, int32_t* pid, uint64_t* epoch) {
  double e = 0;
  if (info.Length() < 2 || !ReadStrictPid(info[0], pid) ||
      !ReadWholeNumber(info[1], 1, kMaxSafeInteger, &e)) {
    return false;
  }
  *epoch = static_cast<uint64_t>(e);
  return true;
}
}  // namespace

Napi::Value AckCaptureEpoch(const Napi::CallbackInfo& info) {
  int32_t pid = 0;
  uint64_t epoch = 0;
  bool ok = ReadPidAndEpoch(info, &pid, &epoch) && MarkCaptureEpochDelivered(pid, epoch);
  return Napi::Boolean::New(info.Env(), ok);
}

Napi::Value ReleaseCaptureEpoch(const Napi::CallbackInfo& info) {
  int32_t pid = 0;
  uint64_t epoch = 0;
  if (!ReadPidAndEpoch(info, &pid, &epoch)) return Napi::Boolean::New(info.Env(), false);
  DiscardCaptureEpoch(pid, epoch);
  return Napi::Boolean::New(info.Env(), true);
}

}  // namespace addon
