// Test hooks of the simulated desktop: injected faults (one-shot or N-shot,
// matched by operation name and optional attribute, element, pid or window)
// and blocking hooks that park the next matching call until released.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/json.h"

namespace sim {

struct CallSite {
  const char* op = "";
  pid_t pid = 0;
  std::string element;
  std::string attribute;
  uint32_t window = 0;
};

enum class FaultKind { kNone, kError, kNoAnswer, kWrongType, kQuit };

struct Fault {
  FaultKind kind = FaultKind::kNone;
  int64_t code = 0;
  pid_t quit_pid = 0;  // kQuit: the application to end before the call goes on
};

class Hooks {
 public:
  static Hooks& Get();

  // {op, attribute?, element?, pid?, window?, error: code | "no_answer" |
  // "wrong_type", quit: true, count: n (default 1, -1 = every call)}
  uint64_t AddFault(const Json& spec, std::string* error);
  uint64_t AddBlock(const Json& spec, std::string* error);
  bool Unblock(uint64_t id);
  bool IsBlocked(uint64_t id);
  // Removes every fault and releases every block.
  void Clear();
  Json Describe();

  // Called at the start of an operation, never with the world lock held:
  // parks on a matching block, then answers a matching fault (consuming one
  // shot of it).
  Fault Enter(const CallSite& site);

 private:
  struct Match {
    std::string op, attribute, element;
    pid_t pid = 0;
    uint32_t window = 0;
    bool Matches(const CallSite& s) const;
  };
  struct FaultEntry {
    uint64_t id;
    Match match;
    Fault fault;
    int64_t remaining;
  };
  struct BlockEntry {
    uint64_t id;
    Match match;
    bool parked = false;
    bool taken = false;
    bool released = false;
  };
  static bool ParseMatch(const Json& spec, Match* m, std::string* error);

  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<FaultEntry> faults_;
  std::vector<BlockEntry> blocks_;
  uint64_t next_id_ = 1;
};

}  // namespace sim
