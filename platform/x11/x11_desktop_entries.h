// Installed applications: the desktop entries under $XDG_DATA_HOME and
// $XDG_DATA_DIRS (applications/*.desktop). A desktop-file id plays the part
// of a bundle identifier.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace x11 {

struct DesktopEntry {
  std::string id;    // "org.xfce.mousepad" for .../applications/org.xfce.mousepad.desktop
  std::string path;  // the .desktop file
  std::string name;  // Name[locale], else Name
  std::string exec;  // Exec= as written
  std::string icon;
  std::string startup_wm_class;
  bool no_display = false;
};

// The entries, first directory first (a user's entry hides a system one);
// re-read when a directory changed.
std::vector<DesktopEntry> DesktopEntries();
std::optional<DesktopEntry> EntryById(const std::string& id);  // ignoring case
std::optional<DesktopEntry> EntryByPath(const std::string& path);
std::optional<DesktopEntry> EntryByName(const std::string& name);  // ignoring case

// The entry of a running program: its _GTK_APPLICATION_ID, then WM_CLASS
// (class, instance) against StartupWMClass or the id, then its executable
// against the entry's Exec= program.
std::optional<DesktopEntry> EntryForProcess(pid_t pid, const std::optional<std::string>& gtk_app_id,
                                            const std::optional<std::string>& wm_class,
                                            const std::optional<std::string>& wm_instance);

// Exec= split into arguments, field codes (%f, %U, ...) dropped.
std::vector<std::string> ExecArguments(const std::string& exec);
// A program name resolved through $PATH (absolute paths as they are); empty
// when not found.
std::string ResolveProgram(const std::string& program);

bool EqualsIgnoringCase(const std::string& a, const std::string& b);

}  // namespace x11
