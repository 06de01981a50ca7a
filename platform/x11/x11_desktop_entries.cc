#include "x11/x11_desktop_entries.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

#include "common/text.h"

namespace x11 {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> DataDirs() {
  std::vector<std::string> dirs;
  const char* home = std::getenv("XDG_DATA_HOME");
  if (home && *home == '/') dirs.push_back(home);
  else if (const char* h = std::getenv("HOME"); h && *h == '/') dirs.push_back(std::string(h) + "/.local/share");
  const char* list = std::getenv("XDG_DATA_DIRS");
  std::string all = list && *list ? list : "/usr/local/share:/usr/share";
  size_t start = 0;
  while (start <= all.size()) {
    size_t colon = all.find(':', start);
    std::string dir = all.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty() && dir[0] == '/') dirs.push_back(dir);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return dirs;
}

// The locale's names to try for Name[...]: ll_CC@mod, ll_CC, ll@mod, ll.
std::vector<std::string> LocaleKeys() {
  const char* v = std::getenv("LC_ALL");
  if (!v || !*v) v = std::getenv("LC_MESSAGES");
  if (!v || !*v) v = std::getenv("LANG");
  std::string loc = v ? v : "";
  size_t dot = loc.find('.');
  std::string mod;
  if (size_t at = loc.find('@'); at != std::string::npos) mod = loc.substr(at);
  std::string base = loc.substr(0, std::min(dot, loc.find('@')));
  std::vector<std::string> keys;
  if (base.empty() || base == "C" || base == "POSIX") return keys;
  std::string lang = base.substr(0, base.find('_'));
  if (!mod.empty()) keys.push_back(base + mod);
  keys.push_back(base);
  if (!mod.empty()) keys.push_back(lang + mod);
  if (lang != base) keys.push_back(lang);
  return keys;
}

std::optional<DesktopEntry> Parse(const fs::path& file, const std::string& id) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  DesktopEntry e;
  e.id = id;
  e.path = file.string();
  auto locales = LocaleKeys();
  size_t best_rank = SIZE_MAX;
  std::string line, type;
  bool in_entry = false, hidden = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      in_entry = line.rfind("[Desktop Entry]", 0) == 0;
      continue;
    }
    if (!in_entry || line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    while (!value.empty() && value.front() == ' ') value.erase(value.begin());
    if (key == "Name") {
      if (best_rank == SIZE_MAX) e.name = value;
    } else if (key.rfind("Name[", 0) == 0 && key.back() == ']') {
      std::string loc = key.substr(5, key.size() - 6);
      for (size_t r = 0; r < locales.size() && r < best_rank; ++r) {
        if (locales[r] == loc) {
          e.name = value;
          best_rank = r;
        }
      }
    } else if (key == "Exec") {
      e.exec = value;
    } else if (key == "Icon") {
      e.icon = value;
    } else if (key == "StartupWMClass") {
      e.startup_wm_class = value;
    } else if (key == "NoDisplay") {
      e.no_display = value == "true";
    } else if (key == "Hidden") {
      hidden = value == "true";
    } else if (key == "Type") {
      type = value;
    }
  }
  if (hidden || type != "Application") return std::nullopt;
  return e;
}

struct Index {
  std::mutex mu;
  std::vector<DesktopEntry> entries;
  std::string stamp;  // directory modification times the index was built from
};

Index& TheIndex() {
  static auto* index = new Index();
  return *index;
}

std::string Stamp(const std::vector<std::string>& dirs) {
  std::string s;
  for (const auto& d : dirs) {
    struct stat st;
    std::string apps = d + "/applications";
    s += apps;
    if (stat(apps.c_str(), &st) == 0) {
      s.push_back(':');
      s.append(std::to_string(st.st_mtim.tv_sec)).push_back('.');
      s.append(std::to_string(st.st_mtim.tv_nsec));
    }
    s.push_back(';');
  }
  return s;
}

}  // namespace

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return common::EqualsIgnoringAsciiCase(a, b);
}

std::vector<DesktopEntry> DesktopEntries() {
  auto dirs = DataDirs();
  std::string stamp = Stamp(dirs);
  Index& index = TheIndex();
  std::lock_guard<std::mutex> l(index.mu);
  if (stamp == index.stamp) return index.entries;
  std::vector<DesktopEntry> entries;
  std::set<std::string> seen;
  for (const auto& d : dirs) {
    fs::path root = fs::path(d) / "applications";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) continue;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it.depth() > 3) it.disable_recursion_pending();
      const fs::path& p = it->path();
      if (p.extension() != ".desktop" || !it->is_regular_file(ec)) continue;
      // The id is the path below applications/ with '/' turned into '-'.
      std::string rel = fs::relative(p, root, ec).string();
      rel.resize(rel.size() - 8);
      for (auto& c : rel)
        if (c == '/') c = '-';
      if (!seen.insert(rel).second) continue;
      if (auto e = Parse(p, rel)) entries.push_back(std::move(*e));
    }
  }
  index.entries = entries;
  index.stamp = stamp;
  return entries;
}

std::optional<DesktopEntry> EntryById(const std::string& id) {
  if (id.empty()) return std::nullopt;
  for (auto& e : DesktopEntries())
    if (EqualsIgnoringCase(e.id, id)) return e;
  return std::nullopt;
}

std::optional<DesktopEntry> EntryByPath(const std::string& path) {
  for (auto& e : DesktopEntries())
    if (e.path == path) return e;
  return std::nullopt;
}

std::optional<DesktopEntry> EntryByName(const std::string& name) {
  if (name.empty()) return std::nullopt;
  for (auto& e : DesktopEntries())
    if (EqualsIgnoringCase(e.name, name)) return e;
  return std::nullopt;
}

std::vector<std::string> ExecArguments(const std::string& exec) {
  std::vector<std::string> args;
  std::string cur;
  bool quoted = false, any = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) cur.push_back(exec[++i]);
      else if (c == '"') quoted = false;
      else cur.push_back(c);
    } else if (c == '"') {
      quoted = any = true;
    } else if (c == ' ' || c == '\t') {
      if (any || !cur.empty()) args.push_back(cur);
      cur.clear();
      any = false;
    } else if (c == '%' && i + 1 < exec.size()) {
      // Field codes stand for files and URLs the launcher would pass: none here.
      if (exec[i + 1] == '%') cur.push_back('%');
      ++i;
    } else {
      cur.push_back(c);
    }
  }
  if (any || !cur.empty()) args.push_back(cur);
  return args;
}

std::string ResolveProgram(const std::string& program) {
  if (program.empty()) return "";
  if (program.find('/') != std::string::npos)
    return access(program.c_str(), X_OK) == 0 ? program : "";
  const char* path = std::getenv("PATH");
  std::string all = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= all.size()) {
    size_t colon = all.find(':', start);
    std::string dir = all.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return "";
}

std::optional<DesktopEntry> EntryForProcess(pid_t pid, const std::optional<std::string>& gtk_app_id,
                                            const std::optional<std::string>& wm_class,
                                            const std::optional<std::string>& wm_instance) {
  auto entries = DesktopEntries();
  if (gtk_app_id && !gtk_app_id->empty()) {
    for (auto& e : entries)
      if (EqualsIgnoringCase(e.id, *gtk_app_id)) return e;
  }
  for (const auto* cls : {&wm_class, &wm_instance}) {
    if (!*cls || (*cls)->empty()) continue;
    for (auto& e : entries)
      if (!e.startup_wm_class.empty() && EqualsIgnoringCase(e.startup_wm_class, **cls)) return e;
    for (auto& e : entries)
      if (EqualsIgnoringCase(e.id, **cls)) return e;
  }
  if (pid <= 0) return std::nullopt;
  char exe[PATH_MAX];
  ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1);
  if (n <= 0) return std::nullopt;
  std::string self(exe, static_cast<size_t>(n));
  // Shown entries first: a hidden helper entry (preferences, actions) of the
  // same program must not name the application.
  for (int pass = 0; pass < 2; ++pass) {
    for (auto& e : entries) {
      if (e.no_display != (pass == 1)) continue;
      auto args = ExecArguments(e.exec);
      if (args.empty()) continue;
      std::string prog = ResolveProgram(args[0]);
      if (prog.empty()) continue;
      std::error_code ec;
      std::string real = fs::canonical(prog, ec).string();
      if (!ec && real == self) return e;
    }
  }
  return std::nullopt;
}

}  // namespace x11
