// Drives the x11 backend's capture streams through the platform seam, as the
// core would, for the real-desktop tests and the benchmark:
//   x11_stream_probe stream WINDOW_ID SECONDS [WIDTH HEIGHT]
//     runs a stream over the window (at the window's size unless given) for
//     SECONDS or until it stops, and prints
//     {"start":code,"complete":n,"idle":n,"stopped":code|null,"width":..,"height":..,
//      "content_scale":..,"screen":[x,y,w,h],"fps":..,"cpu_ms_per_frame":..,
//      "first_matches_image":bool|null}
//     where first_matches_image compares the first complete frame with the
//     one-call window image, pixel for pixel (at the window's size only).
//   x11_stream_probe shot WINDOW_ID WIDTH HEIGHT [keep]
//     one screenshot of the window stretched (or, with "keep", fitted) into
//     WIDTH x HEIGHT: {"error":code,"width":..,"height":..,"opaque":n,"matches_image":bool}
//     (matches_image: equal to the window image, at the window's size only).
//   x11_stream_probe image WINDOW_ID N
//     prints {"cpu_ms":..} the process CPU time of one window image (median of N).
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

const platform::Dict* Info(const platform::SampleBuffer& s) {
  if (!s.attachments || s.attachments->empty()) return nullptr;
  return s.attachments->front().dict();
}

double Num(const platform::Dict& d, const char* key) {
  auto it = d.find(key);
  return it != d.end() && it->second.number() ? it->second.number()->value : -1;
}

struct Recorder : platform::StreamOutput {
  std::mutex mu;
  std::condition_variable cv;
  int complete = 0, idle = 0;
  std::optional<int64_t> stopped;
  double content_scale = 0;
  platform::Rect screen;
  std::vector<uint8_t> first;  // BGRA of the first complete frame
  size_t width = 0, height = 0;
  double first_cpu = 0, last_cpu = 0;
  std::chrono::steady_clock::time_point first_at, last_at;

  void DidOutputSampleBuffer(const platform::SampleBuffer& s, platform::StreamOutputType) override {
    const platform::Dict* info = Info(s);
    if (!info) return;
    std::lock_guard<std::mutex> l(mu);
    if (Num(*info, platform::kFrameInfoStatus) != platform::kFrameStatusComplete) {
      ++idle;
      return;
    }
    if (!s.image_buffer || !s.image_buffer->LockReadOnly()) return;
    const auto now = std::chrono::steady_clock::now();
    if (complete == 0) {
      width = s.image_buffer->Width();
      height = s.image_buffer->Height();
      const uint8_t* base = s.image_buffer->BaseAddress();
      first.assign(base, base + s.image_buffer->BytesPerRow() * height);
      content_scale = Num(*info, platform::kFrameInfoContentScale);
      auto r = info->find(platform::kFrameInfoScreenRect);
      if (r != info->end() && r->second.dict()) {
        const platform::Dict& d = *r->second.dict();
        screen = {Num(d, "X"), Num(d, "Y"), Num(d, "Width"), Num(d, "Height")};
      }
      first_cpu = CpuMs();
      first_at = now;
    }
    s.image_buffer->Unlock();
    ++complete;
    last_cpu = CpuMs();
    last_at = now;
  }
  void DidStopWithError(int64_t code) override {
    std::lock_guard<std::mutex> l(mu);
    stopped = code;
    cv.notify_all();
  }
};

// The filter of one window, as the core makes it from the shareable content.
bool FilterFor(uint32_t id, platform::ContentFilter* filter) {
  platform::ShareableWindow window;
  window.window_id = id;
  if (platform::Get().screen_capture().CreateDesktopIndependentWindowFilter(window, filter)) return true;
  printf("{\"error\":\"no filter\"}\n");
  return false;
}

int Stream(uint32_t id, double seconds, int64_t w, int64_t h) {
  auto& sc = platform::Get().screen_capture();
  platform::ContentFilter filter;
  if (!FilterFor(id, &filter)) return 1;
  platform::StreamConfiguration config;
  config.width = w > 0 ? w : static_cast<int64_t>(filter.content_rect.width);
  config.height = h > 0 ? h : static_cast<int64_t>(filter.content_rect.height);
  auto rec = std::make_shared<Recorder>();
  auto stream = sc.CreateStream(filter, config, rec);
  if (!stream || !stream->AddScreenOutput(rec, "probe")) {
    printf("{\"start\":null,\"error\":\"no stream\"}\n");
    return 1;
  }
  std::atomic<int64_t> start{1};
  stream->StartCapture([&](int64_t code) { start = code; });
  {
    std::unique_lock<std::mutex> l(rec->mu);
    rec->cv.wait_for(l, std::chrono::duration<double>(seconds), [&] { return rec->stopped.has_value(); });
  }
  stream->StopCapture(nullptr);
  std::lock_guard<std::mutex> l(rec->mu);
  std::string matches = "null";
  if (!rec->first.empty() && w <= 0) {
    platform::Image img = platform::Get().windows().CreateSingleWindowImage(id);
    bool same = img && static_cast<size_t>(img->width) == rec->width &&
                static_cast<size_t>(img->height) == rec->height;
    for (size_t i = 0; same && i < rec->width * rec->height; ++i) {
      const uint8_t* f = &rec->first[i * 4];
      const uint8_t* p = &img->rgba[i * 4];
      same = f[0] == p[2] && f[1] == p[1] && f[2] == p[0] && f[3] == p[3];
    }
    matches = same ? "true" : "false";
  }
  const double span = std::chrono::duration<double>(rec->last_at - rec->first_at).count();
  const int after_first = rec->complete - 1;
  printf("{\"start\":%lld,\"complete\":%d,\"idle\":%d,\"stopped\":%s,\"width\":%zu,\"height\":%zu,"
         "\"content_scale\":%.4f,\"screen\":[%.0f,%.0f,%.0f,%.0f],\"fps\":%.2f,"
         "\"cpu_ms_per_frame\":%.4f,\"first_matches_image\":%s}\n",
         static_cast<long long>(start.load()), rec->complete, rec->idle,
         rec->stopped ? std::to_string(*rec->stopped).c_str() : "null", rec->width, rec->height,
         rec->content_scale, rec->screen.x, rec->screen.y, rec->screen.width, rec->screen.height,
         span > 0 ? after_first / span : 0.0,
         after_first > 0 ? (rec->last_cpu - rec->first_cpu) / after_first : 0.0, matches.c_str());
  return 0;
}

int Shot(uint32_t id, int64_t w, int64_t h, bool keep) {
  auto& sc = platform::Get().screen_capture();
  platform::ContentFilter filter;
  if (!FilterFor(id, &filter)) return 1;
  platform::ScreenshotConfiguration config;
  config.width = w;
  config.height = h;
  config.preserves_aspect_ratio = keep;
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  platform::Image shot;
  int64_t error = 0;
  sc.CaptureScreenshot(filter, config, [&](platform::Image image, int64_t code) {
    std::lock_guard<std::mutex> l(mu);
    shot = std::move(image);
    error = code;
    done = true;
    cv.notify_all();
  });
  std::unique_lock<std::mutex> l(mu);
  cv.wait_for(l, std::chrono::seconds(5), [&] { return done; });
  int opaque = 0;
  for (size_t i = 0; shot && i < shot->rgba.size(); i += 4) opaque += shot->rgba[i + 3] == 255;
  platform::Image img = platform::Get().windows().CreateSingleWindowImage(id);
  const bool matches = shot && img && shot->width == img->width && shot->height == img->height &&
                       shot->rgba == img->rgba;
  printf("{\"error\":%lld,\"width\":%d,\"height\":%d,\"opaque\":%d,\"matches_image\":%s}\n",
         static_cast<long long>(error), shot ? shot->width : 0, shot ? shot->height : 0, opaque,
         matches ? "true" : "false");
  return 0;
}

int Image(uint32_t id, int repeat) {
  auto& ws = platform::Get().windows();
  std::vector<double> cpu;
  for (int i = 0; i < repeat; ++i) {
    const double t0 = CpuMs();
    platform::Image img = ws.CreateSingleWindowImage(id);
    cpu.push_back(CpuMs() - t0);
    if (!img) {
      printf("{\"cpu_ms\":null}\n");
      return 1;
    }
  }
  // The first pays for the connection: the median of the rest.
  std::sort(cpu.begin() + (repeat > 1 ? 1 : 0), cpu.end());
  printf("{\"cpu_ms\":%.4f}\n", cpu[repeat > 1 ? 1 + (repeat - 1) / 2 : 0]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "stream" && argc >= 4) {
    return Stream(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)), std::atof(argv[3]),
                  argc > 5 ? std::atoll(argv[4]) : 0, argc > 5 ? std::atoll(argv[5]) : 0);
  }
  if (cmd == "shot" && argc >= 5) {
    return Shot(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)), std::atoll(argv[3]),
                std::atoll(argv[4]), argc > 5 && std::string(argv[5]) == "keep");
  }
  if (cmd == "image" && argc >= 4)
    return Image(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)), std::atoi(argv[3]));
  fprintf(stderr, "usage: x11_stream_probe stream WINDOW_ID SECONDS [WIDTH HEIGHT] | shot WINDOW_ID W H [keep] | image WINDOW_ID N\n");
  return 2;
}
