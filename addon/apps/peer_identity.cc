#include "apps/peer_identity.h"

#include <sys/socket.h>

#include <cstring>

#if defined(__APPLE__)
#include <sys/sysctl.h>
#else
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#endif

namespace addon {

uint32_t AuditTokenWordAt(const platform::AuditToken& token, AuditTokenWord word) {
  size_t at = static_cast<size_t>(word) * 4;
  return static_cast<uint32_t>(token[at]) | (static_cast<uint32_t>(token[at + 1]) << 8) |
         (static_cast<uint32_t>(token[at + 2]) << 16) |
         (static_cast<uint32_t>(token[at + 3]) << 24);
}

void SetAuditTokenWord(platform::AuditToken* token, AuditTokenWord word, uint32_t value) {
  size_t at = static_cast<size_t>(word) * 4;
  for (int i = 0; i < 4; ++i) (*token)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

#if defined(__APPLE__)

// The platform hands out the peer's audit token directly: the local socket
// option LOCAL_PEERTOKEN (level 0, option 6).
std::optional<platform::AuditToken> PeerAuditToken(int fd) {
  if (fd < 0) return std::nullopt;
  platform::AuditToken token{};
  socklen_t len = static_cast<socklen_t>(token.size());
  if (getsockopt(fd, 0, 6, token.data(), &len) != 0 || len < token.size()) return std::nullopt;
  if (static_cast<int32_t>(AuditTokenWordAt(token, kAuditPid)) < 1) return std::nullopt;
  return token;
}

int32_t KernelParentPid(int32_t pid) {
  if (pid < 1) return -1;
  struct kinfo_proc info;
  std::memset(&info, 0, sizeof(info));
  size_t size = sizeof(info);
  int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
  if (sysctl(mib, 4, &info, &size, nullptr, 0) != 0 || size == 0) return -1;
  return info.kp_eproc.e_ppid;
}

#else

namespace {

constexpr uint32_t kUnsetAuditId = 0xFFFFFFFFu;

bool ReadProcFile(int32_t pid, const char* name, std::string* out) {
  char path[64];
  std::snprintf(path, sizeof(path), "/proc/%d/%s", static_cast<int>(pid), name);
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  *out = ss.str();
  return true;
}

// A decimal unsigned 32-bit number file (loginuid, sessionid).
uint32_t ReadProcU32(int32_t pid, const char* name) {
  std::string text;
  if (!ReadProcFile(pid, name, &text)) return kUnsetAuditId;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || v > 0xFFFFFFFFull) return kUnsetAuditId;
  return static_cast<uint32_t>(v);
}

// Fields of /proc/<pid>/stat after the command name, which is in parentheses
// and may itself contain spaces and parentheses: field 3 (state) comes first.
bool ReadStatFields(int32_t pid, std::istringstream* fields) {
  std::string text;
  if (!ReadProcFile(pid, "stat", &text)) return false;
  size_t close = text.rfind(')');
  if (close == std::string::npos) return false;
  fields->str(text.substr(close + 1));
  return true;
}

uint32_t ReadStartTimeLow32(int32_t pid) {
  std::istringstream fields;
  if (!ReadStatFields(pid, &fields)) return 0;
  // Field 22 (starttime) is the 20th after the command name.
  std::string field;
  for (int i = 0; i < 20; ++i) {
    if (!(fields >> field)) return 0;
  }
  return static_cast<uint32_t>(std::strtoull(field.c_str(), nullptr, 10));
}

}  // namespace

std::optional<platform::AuditToken> PeerAuditToken(int fd) {
  if (fd < 0) return std::nullopt;
  // Peer credentials are a property of local (Unix-domain) sockets only.
  int domain = 0;
  socklen_t domain_len = sizeof(domain);
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &domain_len) != 0 || domain != AF_UNIX) {
    return std::nullopt;
  }
  struct ucred cred;
  std::memset(&cred, 0, sizeof(cred));
  socklen_t len = sizeof(cred);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return std::nullopt;
  // Anything shorter than the whole record is not an answer.
  if (len < sizeof(cred) || cred.pid < 1) return std::nullopt;

  platform::AuditToken token{};
  SetAuditTokenWord(&token, kAuditAuid, ReadProcU32(cred.pid, "loginuid"));
  SetAuditTokenWord(&token, kAuditEuid, cred.uid);
  SetAuditTokenWord(&token, kAuditEgid, cred.gid);
  SetAuditTokenWord(&token, kAuditRuid, cred.uid);
  SetAuditTokenWord(&token, kAuditRgid, cred.gid);
  SetAuditTokenWord(&token, kAuditPid, static_cast<uint32_t>(cred.pid));
  SetAuditTokenWord(&token, kAuditAsid, ReadProcU32(cred.pid, "sessionid"));
  SetAuditTokenWord(&token, kAuditPidVersion, ReadStartTimeLow32(cred.pid));
  return token;
}

int32_t KernelParentPid(int32_t pid) {
  if (pid < 1) return -1;
  std::istringstream fields;
  if (!ReadStatFields(pid, &fields)) return -1;
  std::string state;
  long long ppid = -1;
  if (!(fields >> state >> ppid) || ppid < 0 || ppid > 0x7FFFFFFF) return -1;
  return static_cast<int32_t>(ppid);
}

#endif

}  // namespace addon
