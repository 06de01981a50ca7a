#include "apps/tcc_db.h"

#include <sqlite3.h>

#include <cstdlib>
#include <string>

namespace addon {

namespace {

// The only statement ever run; the arguments are bound, never spliced in.
constexpr const char* kGrantQuery =
    "SELECT auth_value FROM access WHERE service=?1 AND client=?2 AND auth_value=2 LIMIT 1";

bool IsAbsolutePath(const char* s) { return s != nullptr && s[0] == '/'; }

// Binds the whole string, embedded NUL bytes included, so a name carrying a
// NUL can never match a shorter stored name.
bool BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  return sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_STATIC,
                             SQLITE_UTF8) == SQLITE_OK;
}

}  // namespace

TccDatabasePaths CurrentTccDatabasePaths() {
  TccDatabasePaths paths;
#if defined(__APPLE__)
  paths.system = kTccDbSuffix;
#else
  const char* root = std::getenv(kTccSystemRootVariable);
  std::string prefix = IsAbsolutePath(root) ? root : "";
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  paths.system = prefix + kTccDbSuffix;
#endif
  const char* home = std::getenv("HOME");
  // Without a usable HOME the user path is the system path itself.
  paths.user = IsAbsolutePath(home) ? std::string(home) + kTccDbSuffix : paths.system;
  return paths;
}

bool TccDatabaseGrants(const std::string& path, const std::string& service,
                       const std::string& client) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    // A failed open may still hand back a handle that must be closed.
    if (db) sqlite3_close(db);
    return false;
  }
  bool granted = false;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, kGrantQuery, -1, &stmt, nullptr) == SQLITE_OK && stmt) {
    if (BindText(stmt, 1, service) && BindText(stmt, 2, client)) {
      granted = sqlite3_step(stmt) == SQLITE_ROW;
    }
  }
  if (stmt) sqlite3_finalize(stmt);
  sqlite3_close(db);
  return granted;
}

bool ReadTccGranted(const std::string& service, const std::string& client) {
  TccDatabasePaths paths = CurrentTccDatabasePaths();
  return TccDatabaseGrants(paths.user, service, client) ||
         TccDatabaseGrants(paths.system, service, client);
}

}  // namespace addon
