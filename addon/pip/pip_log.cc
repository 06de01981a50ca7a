#include "pip/pip_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>

#include "log.h"
#include "main_queue.h"

namespace pip {

namespace {

constexpr size_t kRecentLines = 256;
std::mutex g_recent_mu;
std::deque<std::string>* g_recent = new std::deque<std::string>();
std::map<std::string, uint64_t>* g_signposts = new std::map<std::string, uint64_t>();
constexpr const char* kDebugLogPath = "/tmp/pip-debug.log";

std::string VFormat(const char* format, va_list ap) {
  char buf[1024];
  int n = vsnprintf(buf, sizeof buf, format, ap);
  if (n < 0) return std::string();
  return std::string(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
}

bool DebugEnabled() {
  const char* v = std::getenv("KORVO_OZA_PIP_DEBUG");
  return v && std::strcmp(v, "1") == 0;
}

}  // namespace

std::string PipFormat(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = VFormat(format, ap);
  va_end(ap);
  return s;
}

void PipLog(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string line = VFormat(format, ap);
  va_end(ap);
  {
    std::lock_guard<std::mutex> l(g_recent_mu);
    g_recent->push_back(line);
    if (g_recent->size() > kRecentLines) g_recent->pop_front();
  }
  if (!DebugEnabled()) return;
  // /tmp is world-writable: never follow a link planted at the path, never
  // append to a file that is not a regular file of ours, and create it
  // readable by its owner only.
  int fd = open(kDebugLogPath, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                0600);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
    close(fd);
    return;
  }
  char prefix[32];
  int n = snprintf(prefix, sizeof prefix, "[%lld] ", static_cast<long long>(std::time(nullptr)));
  std::string out = std::string(prefix, n > 0 ? static_cast<size_t>(n) : 0) + line + "\n";
  // One write per line, so concurrent writers never interleave within it.
  ssize_t ignored = write(fd, out.data(), out.size());
  (void)ignored;
  close(fd);
}

void PipSignpost(const char* name) {
  std::lock_guard<std::mutex> l(g_recent_mu);
  (*g_signposts)[name]++;
}

uint64_t PipSignpostCount(const char* name) {
  std::lock_guard<std::mutex> l(g_recent_mu);
  auto it = g_signposts->find(name);
  return it == g_signposts->end() ? 0 : it->second;
}

std::string PipRecentLog() {
  std::lock_guard<std::mutex> l(g_recent_mu);
  std::string out;
  for (const auto& s : *g_recent) out += s + "\n";
  return out;
}

void PipClearRecentLog() {
  std::lock_guard<std::mutex> l(g_recent_mu);
  g_recent->clear();
}

bool PipCheckMain(const char* function, const char* description) {
  if (addon::IsMainThread()) return true;
  addon::LogLine(std::string("[Vantor][assertion] ") + function + " (pip_window): " + description);
  return false;
}

}  // namespace pip
