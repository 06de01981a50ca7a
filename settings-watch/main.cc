// settings-watch [intervalMs]: one compact JSON array of the settings
// windows' bounds per cycle on standard output, forever.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/capabilities.h"
#include "records.h"

using namespace settings_watch;

int main(int argc, char** argv) {
  uint32_t interval = ParseInterval(argc > 1 ? argv[1] : nullptr);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // The same desktop the add-on would drive, chosen by the same rule: the
  // simulated one only when named, else a real X display (read with a reader
  // of its own). With nothing to drive it says why and exits, instead of
  // printing the bounds of a desktop nobody asked for.
  platform::BackendChoice choice = platform::ChooseBackend();
  if (choice.name.empty()) {
    std::string why = choice.error;
    const std::string prefix = "automation-addon: ";
    if (why.compare(0, prefix.size(), prefix) == 0) why.erase(0, prefix.size());
    fprintf(stderr, "settings-watch: %s\n", why.c_str());
    return 2;
  }
  bool x11 = choice.name == "x11";
#ifdef SETTINGS_WATCH_X11
  if (x11 && !X11Open()) {
    fprintf(stderr, "settings-watch: the X display named by DISPLAY could not be opened\n");
    return 2;
  }
#else
  if (x11) {
    fprintf(stderr, "settings-watch: built without its X11 reader\n");
    return 2;
  }
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
