// Identity of processes that talk to the host over local sockets: socket peer
// credentials as an audit token, parent process ids, and the audit token's
// layout.
//
// The 32-byte audit token is eight little-endian unsigned 32-bit words, in
// this order: auid, euid, egid, ruid, rgid, pid, asid, pidversion. On macOS the
// kernel hands the peer's token out itself (LOCAL_PEERTOKEN). On Linux a
// peer's token is built from its socket credentials (SO_PEERCRED: pid, uid,
// gid; the uid and gid fill both the effective and the real words), its audit
// login uid (/proc/<pid>/loginuid) as auid and its audit session id
// (/proc/<pid>/sessionid) as asid (each 0xFFFFFFFF when unreadable), and the
// low 32 bits of its start time in clock ticks (/proc/<pid>/stat) as
// pidversion, so a token names one process instance rather than a reusable pid.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "platform/security.h"

namespace addon {

enum AuditTokenWord : int {
  kAuditAuid = 0,
  kAuditEuid = 1,
  kAuditEgid = 2,
  kAuditRuid = 3,
  kAuditRgid = 4,
  kAuditPid = 5,
  kAuditAsid = 6,
  kAuditPidVersion = 7,
};

uint32_t AuditTokenWordAt(const platform::AuditToken& token, AuditTokenWord word);
void SetAuditTokenWord(platform::AuditToken* token, AuditTokenWord word, uint32_t value);

// The connected peer of a local socket; nullopt when fd is not a socket with
// peer credentials or the peer's pid is below 1.
std::optional<platform::AuditToken> PeerAuditToken(int fd);

// The parent pid recorded in the kernel's process table, or -1.
int32_t KernelParentPid(int32_t pid);

}  // namespace addon
