// Read-only look-ups in the platform's permission database: whether a client
// was granted a service (auth_value 2), asked first of the per-user database
// and then of the system-wide one.
//
// Paths: the system database is kTccDbSuffix itself. On builds other than
// macOS it is placed under the root prefix named by KORVO_OZA_SYSTEM_ROOT when
// that variable holds an absolute path (so tests and Linux hosts can keep the
// database outside /); unset, empty or relative values mean no prefix. On macOS
// the prefix is never applied. The per-user database is $HOME followed by
// kTccDbSuffix; with HOME unset (or not absolute, so that no path ever depends
// on the working directory) it is the system path, which is then asked twice.
#pragma once

#include <string>

namespace addon {

inline constexpr const char* kTccDbSuffix = "/Library/Application Support/com.apple.TCC/TCC.db";
inline constexpr const char* kTccSystemRootVariable = "KORVO_OZA_SYSTEM_ROOT";

struct TccDatabasePaths {
  std::string user;
  std::string system;
};

// The two paths, from the environment as it is now.
TccDatabasePaths CurrentTccDatabasePaths();

// One database: open read-only, run the fixed statement with service and
// client bound as parameters, answer whether a row came back. Missing or
// unreadable files answer false.
bool TccDatabaseGrants(const std::string& path, const std::string& service,
                       const std::string& client);

// User database, then system database.
bool ReadTccGranted(const std::string& service, const std::string& client);

}  // namespace addon
