// The token and epoch tables. Tokens are indexed by number (the decimal part
// of "axh-<n>") and, for capture tokens, by (pid, epoch) so that releasing a
// capture touches only its own tokens. Released elements are dropped after
// g_mutex is let go.
#include "ax/tokens.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

namespace addon {

std::mutex g_mutex;

namespace {

struct TokenEntry {
  platform::AXElement element;
  int32_t pid = 0;
  uint64_t epoch = 0;  // 0: ephemeral
};

constexpr size_t kCommittedEpochsPerPid = 4;
constexpr size_t kDeliveredEpochs = 32;
constexpr size_t kEphemeralPerPid = 256;
constexpr size_t kEphemeralOverall = 1024;
constexpr char kTokenPrefix[] = "axh-";
constexpr size_t kTokenPrefixLen = sizeof(kTokenPrefix) - 1;

uint64_t g_counter = 0;
std::unordered_map<uint64_t, TokenEntry> g_tokens;
std::map<std::pair<int32_t, uint64_t>, std::vector<uint64_t>> g_epoch_tokens;
std::map<int32_t, uint64_t> g_pid_capture_epoch;
std::map<int32_t, std::deque<uint64_t>> g_pid_committed_epochs;
std::deque<std::pair<int32_t, uint64_t>> g_delivered_capture_epochs;
std::map<int32_t, std::deque<uint64_t>> g_pid_ephemeral_tokens;
std::deque<std::pair<int32_t, uint64_t>> g_ephemeral_tokens;  // (pid, token)

using Graveyard = std::vector<platform::AXElement>;

// "axh-" and a decimal number without leading zeros that fits 64 bits.
bool ParseToken(const std::string& token, uint64_t* number) {
  if (token.size() <= kTokenPrefixLen || token.compare(0, kTokenPrefixLen, kTokenPrefix) != 0) {
    return false;
  }
  if (token[kTokenPrefixLen] == '0') return false;
  uint64_t n = 0;
  for (size_t i = kTokenPrefixLen; i < token.size(); ++i) {
    char c = token[i];
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  *number = n;
  return true;
}

void ReleaseEntryLocked(uint64_t number, Graveyard* graveyard) {
  auto it = g_tokens.find(number);
  if (it == g_tokens.end()) return;
  graveyard->push_back(std::move(it->second.element));
  g_tokens.erase(it);
}

void ReleaseEpochTokensLocked(int32_t pid, uint64_t epoch, Graveyard* graveyard) {
  auto it = g_epoch_tokens.find({pid, epoch});
  if (it == g_epoch_tokens.end()) return;
  for (uint64_t number : it->second) ReleaseEntryLocked(number, graveyard);
  g_epoch_tokens.erase(it);
}

void RemoveCommittedLocked(int32_t pid, uint64_t epoch) {
  auto it = g_pid_committed_epochs.find(pid);
  if (it == g_pid_committed_epochs.end()) return;
  auto& list = it->second;
  list.erase(std::remove(list.begin(), list.end(), epoch), list.end());
  if (list.empty()) g_pid_committed_epochs.erase(it);
}

bool IsCommittedLocked(int32_t pid, uint64_t epoch) {
  auto it = g_pid_committed_epochs.find(pid);
  return it != g_pid_committed_epochs.end() &&
         std::find(it->second.begin(), it->second.end(), epoch) != it->second.end();
}

}  // namespace

std::string StoreToken(const platform::AXElement& el, int32_t pid,
                       std::optional<uint64_t> epoch) {
  Graveyard graveyard;
  std::string token;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    uint64_t number = ++g_counter;
    char buf[32] = {'a', 'x', 'h', '-'};
    char* end = std::to_chars(buf + kTokenPrefixLen, buf + sizeof(buf), number).ptr;
    token.assign(buf, static_cast<size_t>(end - buf));
    uint64_t e = epoch.value_or(0);
    g_tokens.emplace(number, TokenEntry{el, pid, e});
    if (epoch) {
      g_epoch_tokens[{pid, e}].push_back(number);
    } else {
      auto& pid_list = g_pid_ephemeral_tokens[pid];
      pid_list.push_back(number);
      g_ephemeral_tokens.emplace_back(pid, number);
      while (pid_list.size() > kEphemeralPerPid) {
        ReleaseEntryLocked(pid_list.front(), &graveyard);
        pid_list.pop_front();
      }
      while (g_ephemeral_tokens.size() > kEphemeralOverall) {
        auto [old_pid, old_number] = g_ephemeral_tokens.front();
        g_ephemeral_tokens.pop_front();
        ReleaseEntryLocked(old_number, &graveyard);
        auto it = g_pid_ephemeral_tokens.find(old_pid);
        if (it == g_pid_ephemeral_tokens.end()) continue;
        // Both lists are in issue order, so a token still on its pid's list
        // is at the front of it.
        auto& list = it->second;
        auto pos = std::find(list.begin(), list.end(), old_number);
        if (pos != list.end()) list.erase(pos);
        if (list.empty()) g_pid_ephemeral_tokens.erase(it);
      }
    }
  }
  return token;
}

bool ResolveToken(const std::string& token, platform::AXElement* out) {
  uint64_t number = 0;
  if (!ParseToken(token, &number)) return false;
  platform::AXElement found;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_tokens.find(number);
    if (it == g_tokens.end()) return false;
    found = it->second.element;
  }
  *out = std::move(found);  // the caller's previous element is released here
  return true;
}

bool ResolveRef(const Napi::CallbackInfo& info, platform::AXElement* out) {
  if (info.Length() < 1) return false;
  napi_valuetype type;
  if (napi_typeof(info.Env(), info[0], &type) != napi_ok || type != napi_string) return false;
  size_t len = 0;
  if (napi_get_value_string_utf8(info.Env(), info[0], nullptr, 0, &len) != napi_ok) return false;
  // Tokens are short; anything longer cannot name one.
  if (len > 32) return false;
  char buf[40];
  if (napi_get_value_string_utf8(info.Env(), info[0], buf, sizeof(buf), &len) != napi_ok) {
    return false;
  }
  return ResolveToken(std::string(buf, len), out);
}

uint64_t NextCaptureEpoch(int32_t pid) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return ++g_pid_capture_epoch[pid];
}

bool MarkCaptureEpochDelivered(int32_t pid, uint64_t epoch) {
  Graveyard graveyard;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!IsCommittedLocked(pid, epoch)) return false;
  auto entry = std::make_pair(pid, epoch);
  if (std::find(g_delivered_capture_epochs.begin(), g_delivered_capture_epochs.end(), entry) !=
      g_delivered_capture_epochs.end()) {
    return true;
  }
  g_delivered_capture_epochs.push_back(entry);
  while (g_delivered_capture_epochs.size() > kDeliveredEpochs) {
    auto [old_pid, old_epoch] = g_delivered_capture_epochs.front();
    g_delivered_capture_epochs.pop_front();
    RemoveCommittedLocked(old_pid, old_epoch);
    ReleaseEpochTokensLocked(old_pid, old_epoch, &graveyard);
  }
  return true;
}

void DiscardCaptureEpoch(int32_t pid, uint64_t epoch) {
  Graveyard graveyard;
  std::lock_guard<std::mutex> lock(g_mutex);
  ReleaseEpochTokensLocked(pid, epoch, &graveyard);
  RemoveCommittedLocked(pid, epoch);
  auto entry = std::make_pair(pid, epoch);
  g_delivered_capture_epochs.erase(
      std::remove(g_delivered_capture_epochs.begin(), g_delivered_capture_epochs.end(), entry),
      g_delivered_capture_epochs.end());
}

CaptureEpochGuard::~CaptureEpochGuard() {
  if (!committed_) DiscardCaptureEpoch(pid_, epoch_);
}

void CaptureEpochGuard::Commit() {
  Graveyard graveyard;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& list = g_pid_committed_epochs[pid_];
  list.push_back(epoch_);
  while (list.size() > kCommittedEpochsPerPid) list.pop_front();
  uint64_t oldest = list.front();
  // Tokens of this pid's epochs older than the oldest kept one go.
  auto it = g_epoch_tokens.lower_bound({pid_, 1});
  while (it != g_epoch_tokens.end() && it->first.first == pid_ && it->first.second < oldest) {
    for (uint64_t number : it->second) ReleaseEntryLocked(number, &graveyard);
    it = g_epoch_tokens.erase(it);
  }
  committed_ = true;
}

}  // namespace addon
