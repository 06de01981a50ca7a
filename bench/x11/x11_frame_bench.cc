// One real window through the agent's image path, step by step:
//   x11_frame_bench WINDOW_ID [RUNS]
// prints {"width","height","capture_ms","encode_ms","libpng6_ms"}: medians of
// RUNS of the x11 backend's one-call window image, the add-on's PNG encoder
// (its agent-facing setting, Base64 included) and, as the reference, libpng
// at its defaults (zlib level 6, adaptive filters) on the same pixels.
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "image/encode.h"
#include "platform/platform.h"

namespace {

double MedianMs(int runs, const std::function<void()>& fn) {
  std::vector<double> t;
  fn();  // warm: connections, redirection, allocations
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    fn();
    t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

void Append(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

// libpng with nothing but the pixel format set: its default compression.
size_t DefaultLibpng(const platform::Bitmap& bm) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  png_set_write_fn(png, &out, Append, nullptr);
  png_set_IHDR(png, info, bm.width, bm.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < bm.height; ++y)
    png_write_row(png, const_cast<png_bytep>(&bm.rgba[static_cast<size_t>(y) * bm.width * 4]));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(platform::Get().Name()) != "x11") {
    fprintf(stderr, "usage: KORVO_OZA_PLATFORM=x11 x11_frame_bench WINDOW_ID [RUNS]\n");
    return 2;
  }
  uint32_t id = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0));
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
  auto& ws = platform::Get().windows();
  platform::Image image = ws.CreateSingleWindowImage(id);
  if (!image) {
    fprintf(stderr, "x11_frame_bench: no image of window %u\n", id);
    return 1;
  }
  double capture = MedianMs(runs, [&] { ws.CreateSingleWindowImage(id); });
  double encode = MedianMs(runs, [&] { addon::EncodeImageData(image, "png", 0.6); });
  double libpng6 = MedianMs(runs, [&] { DefaultLibpng(*image); });
  printf("{\"width\":%d,\"height\":%d,\"capture_ms\":%.3f,\"encode_ms\":%.3f,\"libpng6_ms\":%.3f}\n",
         image->width, image->height, capture, encode, libpng6);
  return 0;
}
