// Identity exports: peer credentials, parent and responsible processes, code
// signing summaries and requirement checks. Bad arguments are answered with
// the neutral value (-1, false or null), never thrown.
#include <cstring>
#include <cstdint>
#include <string>

#include "apps/peer_identity.h"
#include "conventions.h"
#include "exports.h"
#include "platform/platform.h"

namespace addon {

namespace {

constexpr size_t kMaxSigningStringBytes = 511;
constexpr double kMaxPid = 2147483647.0;
// Requirement texts are a few hundred bytes. Longer ones are refused before
// they reach the platform's requirement compiler, which recurses on nesting
// and must never be handed an unbounded text.
constexpr size_t kMaxRequirementBytes = 16384;

// The first 32 bytes of a buffer of at least 32 bytes.
bool ReadAuditToken(const Napi::Value& v, platform::AuditToken* out) {
  if (!v.IsBuffer()) return false;
  auto buf = v.As<Napi::Buffer<uint8_t>>();
  if (buf.Length() < out->size() || buf.Data() == nullptr) return false;
  std::memcpy(out->data(), buf.Data(), out->size());
  return true;
}

// A whole number in lo .. 2,147,483,647. Fractions, NaN and values past the
// pid range are refused rather than wrapped onto another process.
bool ReadPidAtLeast(const Napi::Value& v, double lo, int32_t* out) {
  double d;
  if (!ReadWholeNumber(v, lo, kMaxPid, &d)) return false;
  *out = static_cast<int32_t>(d);
  return true;
}

Napi::Value SigningString(Napi::Env env, const std::optional<std::string>& s) {
  if (!s || s->size() > kMaxSigningStringBytes) return env.Null();
  return Napi::String::New(env, *s);
}

bool ReadRequirement(const Napi::CallbackInfo& info, std::string* out) {
  return info.Length() >= 2 && ReadUtf8String(info[1], 1, kMaxRequirementBytes, out);
}

}  // namespace

Napi::Value GetPeerCredentials(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  double fd;
  if (info.Length() < 1 || !ReadWholeNumber(info[0], 0, kMaxPid, &fd)) return env.Null();
  auto token = PeerAuditToken(static_cast<int>(fd));
  if (!token) return env.Null();

  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "uid", Napi::Number::New(env, AuditTokenWordAt(*token, kAuditEuid)));
  SetKey(o, "pid", Napi::Number::New(env, AuditTokenWordAt(*token, kAuditPid)));
  SetKey(o, "auditToken", Napi::Buffer<uint8_t>::Copy(env, token->data(), token->size()));
  return o;
}

Napi::Value ParentProcessPid(const Napi::CallbackInfo& info) {
  int32_t pid;
  if (info.Length() < 1 || !ReadPidAtLeast(info[0], 1, &pid)) {
    return Napi::Number::New(info.Env(), -1);
  }
  return Napi::Number::New(info.Env(), KernelParentPid(pid));
}

Napi::Value ResponsibleProcessPid(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  int32_t pid;
  if (info.Length() < 1 || !ReadPidAtLeast(info[0], 1, &pid)) return Napi::Number::New(env, -1);
  std::optional<pid_t> responsible = platform::Get().security().ResponsiblePidForPid(pid);
  if (!responsible || *responsible < 1) return Napi::Number::New(env, -1);
  return Napi::Number::New(env, *responsible);
}

Napi::Value PeerCodeSigningSummary(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  platform::AuditToken token{};
  if (info.Length() < 1 || !ReadAuditToken(info[0], &token)) return env.Null();
  auto signing = platform::Get().security().SigningInfoForAuditToken(token);
  if (!signing) return env.Null();
  Napi::Object o = Napi::Object::New(env);
  SetKey(o, "teamIdentifier", SigningString(env, signing->team_identifier));
  SetKey(o, "identifier", SigningString(env, signing->identifier));
  return o;
}

Napi::Value VerifyProcessCodeSignature(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  int32_t pid;
  std::string requirement;
  // Pids 0 and 1 (the kernel and init) are never accepted.
  if (info.Length() < 2 || !ReadPidAtLeast(info[0], 2, &pid) ||
      !ReadRequirement(info, &requirement)) {
    return Napi::Boolean::New(env, false);
  }
  auto result = platform::Get().security().CheckRequirementForPid(pid, requirement);
  return Napi::Boolean::New(env, result == platform::RequirementResult::kSatisfied);
}

Napi::Value VerifyProcessCodeSignatureWithAuditToken(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  platform::AuditToken token{};
  std::string requirement;
  if (info.Length() < 2 || !ReadAuditToken(info[0], &token) ||
      !ReadRequirement(info, &requirement)) {
    return Napi::Boolean::New(env, false);
  }
  auto result = platform::Get().security().CheckRequirementForAuditToken(token, requirement);
  return Napi::Boolean::New(env, result == platform::RequirementResult::kSatisfied);
}

}  // namespace addon
