// settings-watch [intervalMs]: one compact JSON array of the settings
// windows' bounds per cycle on standard output, forever.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "records.h"

using namespace settings_watch;

int main(int argc, char** argv) {
  uint32_t interval = ParseInterval(argc > 1 ? argv[1] : nullptr);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // The same desktop the add-on would drive: a real X display when the x11
  // backend is selected and the display opens, the simulated one otherwise.
  const char* platform = std::getenv("KORVO_OZA_PLATFORM");
  bool x11 = false;
#ifdef SETTINGS_WATCH_X11
  x11 = platform && std::strcmp(platform, "x11") == 0 && X11Open();
#else
  (void)platform;
#endif
  while (true) {
    std::optional<std::vector<ListedWindow>> windows;
#ifdef SETTINGS_WATCH_X11
    windows = x11 ? X11Windows() : SimWindows();
#else
    windows = SimWindows();
#endif
    std::string line = ToJson(windows ? Select(*windows) : std::vector<Record>());
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    if (interval) usleep(interval * 1000u);
  }
}
