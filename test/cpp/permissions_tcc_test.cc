// The permission database look-up: fixed statement, bound parameters,
// read-only opens, and the two paths.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "apps/tcc_db.h"

namespace addon {
namespace {

namespace fs = std::filesystem;

// Sets or unsets an environment variable for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class TccDb : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("korvo-tcc-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // A database at dir + suffix holding the given rows.
  std::string MakeDb(const fs::path& dir, const std::string& rows_sql,
                     const char* schema = "CREATE TABLE access (service TEXT NOT NULL, client "
                                          "TEXT NOT NULL, auth_value INTEGER NOT NULL);") {
    std::string path = dir.string() + kTccDbSuffix;
    fs::create_directories(fs::path(path).parent_path());
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK);
    if (!rows_sql.empty()) {
      EXPECT_EQ(sqlite3_exec(db, rows_sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(db);
    return path;
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  fs::path root_;
};

constexpr const char* kRows =
    "INSERT INTO access VALUES ('kTCCServiceAccessibility', 'com.example.agent', 2);"
    "INSERT INTO access VALUES ('kTCCServiceScreenCapture', 'com.example.agent', 0);";

TEST_F(TccDb, OnlyAnAllowedRowAnswersYes) {
  std::string db = MakeDb(root_, kRows);
  EXPECT_TRUE(TccDatabaseGrants(db, "kTCCServiceAccessibility", "com.example.agent"));
  EXPECT_FALSE(TccDatabaseGrants(db, "kTCCServiceScreenCapture", "com.example.agent"));
  EXPECT_FALSE(TccDatabaseGrants(db, "kTCCServiceAccessibility", "com.example.other"));
  EXPECT_FALSE(TccDatabaseGrants(db, "", ""));
}

TEST_F(TccDb, ArgumentsAreDataNeverStatementText) {
  std::string db = MakeDb(root_, kRows);
  EXPECT_FALSE(TccDatabaseGrants(db, "kTCCServiceScreenCapture", "x' OR '1'='1"));
  EXPECT_FALSE(TccDatabaseGrants(db, "kTCCServiceScreenCapture' OR 1=1 --", "anything"));
  EXPECT_FALSE(TccDatabaseGrants(db, "kTCCServiceAccessibility", "com.example.agent'; DROP TABLE access; --"));
  // An embedded NUL is part of the name, not its end.
  EXPECT_FALSE(TccDatabaseGrants(db, "kTCCServiceAccessibility",
                                 std::string("com.example.agent\0evil", 22)));
  EXPECT_TRUE(TccDatabaseGrants(db, "kTCCServiceAccessibility", "com.example.agent"));
}

TEST_F(TccDb, DatabaseIsNeverWritten) {
  std::string db = MakeDb(root_, kRows);
  std::string before = Slurp(db);
  ASSERT_EQ(chmod(db.c_str(), 0444), 0);
  EXPECT_TRUE(TccDatabaseGrants(db, "kTCCServiceAccessibility", "com.example.agent"));
  EXPECT_EQ(Slurp(db), before);
  EXPECT_FALSE(fs::exists(db + "-journal"));
}

TEST_F(TccDb, UnusableFilesAnswerNo) {
  EXPECT_FALSE(TccDatabaseGrants((root_ / "missing.db").string(), "s", "c"));
  EXPECT_FALSE(fs::exists(root_ / "missing.db"));  // read-only opens create nothing
  std::string junk = (root_ / "junk.db").string();
  std::ofstream(junk) << "not a database at all";
  EXPECT_FALSE(TccDatabaseGrants(junk, "s", "c"));
  std::string other = MakeDb(root_ / "other", "", "CREATE TABLE unrelated (x INTEGER);");
  EXPECT_FALSE(TccDatabaseGrants(other, "kTCCServiceAccessibility", "com.example.agent"));
  EXPECT_FALSE(TccDatabaseGrants(root_.string(), "s", "c"));  // a directory
}

TEST_F(TccDb, PathsFollowHomeAndTheAbsoluteSystemRoot) {
  {
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv sys(kTccSystemRootVariable, "/srv/root/");
    TccDatabasePaths p = CurrentTccDatabasePaths();
    EXPECT_EQ(p.user, std::string("/home/someone") + kTccDbSuffix);
    EXPECT_EQ(p.system, std::string("/srv/root") + kTccDbSuffix);
  }
  {
    // Relative values would make the answer depend on the working directory.
    ScopedEnv home("HOME", "relative/home");
    ScopedEnv sys(kTccSystemRootVariable, "relative/root");
    TccDatabasePaths p = CurrentTccDatabasePaths();
    EXPECT_EQ(p.system, kTccDbSuffix);
    EXPECT_EQ(p.user, p.system);
  }
  {
    ScopedEnv home("HOME", std::nullopt);
    ScopedEnv sys(kTccSystemRootVariable, std::nullopt);
    TccDatabasePaths p = CurrentTccDatabasePaths();
    EXPECT_EQ(p.user, kTccDbSuffix);
    EXPECT_EQ(p.system, kTccDbSuffix);
  }
}

}  // namespace
}  // namespace addon
