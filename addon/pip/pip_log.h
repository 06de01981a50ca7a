// The mirroring panels' debug log and main-thread checks. Every message goes
// to the file "/tmp/pip-debug.log" (one line, "[<epoch seconds>] " first)
// only while KORVO_OZA_PIP_DEBUG is exactly "1"; the file is opened for each
// line (never through a symbolic link, created owner-only), so a failure to
// open it writes nothing and costs nothing else.
#pragma once

#include <cstdint>
#include <string>

namespace pip {

void PipLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Signposts of the panels ("pip.frame.present", "pip.ownership.probe",
// "pip.drag.apply", "pip.capture.skipped.drag"): counted whatever the
// debug variable says.
void PipSignpost(const char* name);
uint64_t PipSignpostCount(const char* name);
// The formatted text of PipLog without writing it (tests read messages).
std::string PipFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The last messages logged, oldest first (kept whatever the variable says, a
// bounded ring for tests and diagnostics).
std::string PipRecentLog();
void PipClearRecentLog();

// False, after reporting a failed assertion naming `function`, the source
// "pip_window" and `description`, when called off the host (main) thread.
bool PipCheckMain(const char* function, const char* description);

}  // namespace pip
