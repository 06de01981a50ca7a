#include "sim/hooks.h"

#include <algorithm>

namespace sim {

Hooks& Hooks::Get() {
  static Hooks* h = new Hooks();
  return *h;
}

bool Hooks::Match::Matches(const CallSite& s) const {
  if (op != s.op) return false;
  if (!attribute.empty() && attribute != s.attribute) return false;
  if (!element.empty() && element != s.element) return false;
  if (pid != 0 && pid != s.pid) return false;
  if (window != 0 && window != s.window) return false;
  return true;
}

bool Hooks::ParseMatch(const Json& spec, Match* m, std::string* error) {
  if (!spec.is_object() || !spec["op"].is_string() || spec["op"].as_string().empty()) {
    *error = "a hook needs an op name";
    return false;
  }
  m->op = spec["op"].as_string();
  m->attribute = spec["attribute"].str_or("");
  m->element = spec["element"].str_or("");
  m->pid = static_cast<pid_t>(spec["pid"].as_int(0));
  m->window = static_cast<uint32_t>(spec["window"].as_int(0));
  return true;
}

uint64_t Hooks::AddFault(const Json& spec, std::string* error) {
  FaultEntry e;
  if (!ParseMatch(spec, &e.match, error)) return 0;
  const Json& err = spec["error"];
  if (spec["quit"].as_bool(false) || spec["mode"].str_or("") == "quit") {
    e.fault.kind = FaultKind::kQuit;
    e.fault.quit_pid = static_cast<pid_t>(spec["quitPid"].as_int(e.match.pid));
  } else if (err.is_number()) {
    e.fault.kind = FaultKind::kError;
    e.fault.code = err.as_int();
  } else if (err.str_or("") == "no_answer" || spec["mode"].str_or("") == "no_answer") {
    e.fault.kind = FaultKind::kNoAnswer;
  } else if (err.str_or("") == "wrong_type" || spec["mode"].str_or("") == "wrong_type") {
    e.fault.kind = FaultKind::kWrongType;
  } else {
    *error = "a fault needs error (a code, \"no_answer\" or \"wrong_type\") or quit";
    return 0;
  }
  e.remaining = spec["count"].as_int(1);
  if (e.remaining == 0) e.remaining = 1;
  std::lock_guard<std::mutex> l(mu_);
  e.id = next_id_++;
  faults_.push_back(e);
  return e.id;
}

uint64_t Hooks::AddBlock(const Json& spec, std::string* error) {
  BlockEntry b;
  if (!ParseMatch(spec, &b.match, error)) return 0;
  std::lock_guard<std::mutex> l(mu_);
  b.id = next_id_++;
  blocks_.push_back(b);
  return b.id;
}

bool Hooks::Unblock(uint64_t id) {
  bool found = false;
  {
    std::lock_guard<std::mutex> l(mu_);
    for (auto& b : blocks_) {
      if (b.id == id) {
        b.released = true;
        found = true;
      }
    }
    // Entries nobody is parked on can go now; a parked caller removes its own.
    blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                                 [](const BlockEntry& b) { return b.released && !b.parked; }),
                  blocks_.end());
  }
  cv_.notify_all();
  return found;
}

bool Hooks::IsBlocked(uint64_t id) {
  std::lock_guard<std::mutex> l(mu_);
  for (auto& b : blocks_)
    if (b.id == id) return b.parked && !b.released;
  return false;
}

void Hooks::Clear() {
  {
    std::lock_guard<std::mutex> l(mu_);
    faults_.clear();
    for (auto& b : blocks_) b.released = true;
    blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                                 [](const BlockEntry& b) { return !b.parked; }),
                  blocks_.end());
  }
  cv_.notify_all();
}

Json Hooks::Describe() {
  std::lock_guard<std::mutex> l(mu_);
  Json out = Json::Object();
  Json faults = Json::Array();
  for (auto& f : faults_) {
    Json j = Json::Object();
    j.set("id", Json(f.id));
    j.set("op", Json(f.match.op));
    j.set("remaining", Json(f.remaining));
    faults.push(j);
  }
  Json blocks = Json::Array();
  for (auto& b : blocks_) {
    Json j = Json::Object();
    j.set("id", Json(b.id));
    j.set("op", Json(b.match.op));
    j.set("parked", Json(b.parked && !b.released));
    blocks.push(j);
  }
  out.set("faults", faults);
  out.set("blocks", blocks);
  return out;
}

Fault Hooks::Enter(const CallSite& site) {
  std::unique_lock<std::mutex> l(mu_);
  for (auto& b : blocks_) {
    if (b.taken || b.released || !b.match.Matches(site)) continue;
    b.taken = true;
    b.parked = true;
    uint64_t id = b.id;
    cv_.wait(l, [&] {
      for (auto& x : blocks_)
        if (x.id == id) return x.released;
      return true;
    });
    blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                                 [&](const BlockEntry& x) { return x.id == id; }),
                  blocks_.end());
    break;
  }
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (!it->match.Matches(site)) continue;
    Fault f = it->fault;
    if (f.kind == FaultKind::kQuit && f.quit_pid == 0) f.quit_pid = site.pid;
    if (it->remaining > 0 && --it->remaining == 0) faults_.erase(it);
    return f;
  }
  return {};
}

}  // namespace sim
