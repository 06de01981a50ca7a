#include "pip/pip_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>

#include "log.h"
#include "main_queue.h"

namespace pip {

namespace {

constexpr size_t kRecentLines = 256;
std::mutex g_recent_mu;
std::deque<std::string>* g_recent = new std::deque<std::string>();

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
  FILE* f = std::fopen("/tmp/pip-debug.log", "a");
  if (!f) return;
  std::fprintf(f, "[%lld] %s\n", static_cast<long long>(std::time(nullptr)), line.c_str());
  std::fclose(f);
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
