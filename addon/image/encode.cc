#include "image/encode.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>  // after <cstdio>: it uses FILE and size_t

#include "image/base64.h"
#include "image/resample.h"

namespace addon {
namespace {

// PNG compression. With the system zlib, level 6 and adaptive filtering took
// 280-420 ms for a 1920x1080 frame of screen content. Level 2 with the Up
// filter (rows of screen content repeat) takes about 70 ms, and its output is
// 5-7% larger than level 6's; level 3 saves 5% for 40% more time. Levels 1-3
// use zlib's fast match search, which keeps the time steady on noisy content.
constexpr int kPngZlibLevel = 2;
constexpr int kPngFilters = PNG_FILTER_UP;
constexpr size_t kPngChunkBytes = 1 << 18;  // fewer, larger data chunks

// Encoded bytes, refused once they would pass the size limit. The buffer is
// reserved at the limit up front so appending never reallocates (and never
// throws) while a codec's C code is on the stack; untouched pages cost nothing.
struct Sink {
  std::vector<uint8_t> bytes;
  bool too_large = false;

  Sink() { bytes.reserve(kEncodeMaxBytes); }
  bool Append(const uint8_t* p, size_t n) {
    if (n > kEncodeMaxBytes - bytes.size()) {
      too_large = true;
      return false;
    }
    bytes.insert(bytes.end(), p, p + n);
    return true;
  }
};

// A bitmap to encode: premultiplied RGBA, rows `stride` bytes apart.
struct Pixels {
  const uint8_t* data;
  int width;
  int height;
  size_t stride;
};

bool IsOpaque(const Pixels& px) {
  for (int y = 0; y < px.height; ++y) {
    const uint8_t* p = px.data + static_cast<size_t>(y) * px.stride + 3;
    uint8_t all = 0xff;
    for (int x = 0; x < px.width; ++x) all &= p[static_cast<size_t>(x) * 4];
    if (all != 0xff) return false;
  }
  return true;
}

// table[a * 256 + c]: premultiplied channel c at alpha a back to straight
// colour, rounded to nearest and capped at 255.
const uint8_t* UnpremultiplyTable() {
  static const std::vector<uint8_t> table = [] {
    std::vector<uint8_t> t(256 * 256, 0);
    for (uint32_t a = 1; a < 256; ++a)
      for (uint32_t c = 0; c < 256; ++c)
        t[a * 256 + c] = static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
    return t;
  }();
  return table.data();
}

// ---- PNG ----
//
// PNG keeps transparency, so colours are un-premultiplied. A fully opaque
// bitmap is written as RGB: its alpha carries no information, and dropping it
// makes a quarter less data to compress. Decoders read both as the same pixels.

[[noreturn]] void PngOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngOnWarning(png_structp, png_const_charp) {}

void PngWrite(png_structp png, png_bytep data, size_t n) {
  if (!static_cast<Sink*>(png_get_io_ptr(png))->Append(data, n)) png_error(png, "too large");
}
void PngFlush(png_structp) {}

void PngWriteRows(png_structp png, const Pixels& px, bool opaque, uint8_t* row) {
  const uint8_t* unpremultiply = UnpremultiplyTable();
  for (int y = 0; y < px.height; ++y) {
    const uint8_t* s = px.data + static_cast<size_t>(y) * px.stride;
    uint8_t* d = row;
    if (opaque) {
      for (int x = 0; x < px.width; ++x, s += 4, d += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
    } else {
      for (int x = 0; x < px.width; ++x, s += 4, d += 4) {
        const uint8_t* t = unpremultiply + s[3] * 256;
        d[0] = t[s[0]];
        d[1] = t[s[1]];
        d[2] = t[s[2]];
        d[3] = s[3];
      }
    }
    png_write_row(png, row);
  }
}

// libpng reports errors by longjmp, so this frame holds only trivially
// destructible locals, set before setjmp; the row buffer belongs to the caller.
bool WritePng(const Pixels& px, bool opaque, uint8_t* row, Sink* sink) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngOnError, PngOnWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, sink, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(px.width), static_cast<png_uint_32>(px.height), 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, kPngZlibLevel);
  png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, kPngFilters);
  png_set_compression_buffer_size(png, kPngChunkBytes);
  png_write_info(png, info);
  PngWriteRows(png, px, opaque, row);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool EncodePng(const Pixels& px, Sink* sink) {
  const bool opaque = IsOpaque(px);
  std::vector<uint8_t> row(static_cast<size_t>(px.width) * 4);
  return WritePng(px, opaque, row.data(), sink);
}

// ---- JPEG ----
//
// JPEG has no alpha. The premultiplied colours are written as they are (the
// alpha byte is skipped by the RGBX input layout), which is the image
// composited over black, as the platform's own encoder does with such a
// bitmap; opaque captures are unaffected. The input is read in place, with no
// conversion pass.

// `quality` (0..1) to libjpeg's 1..100 scale: 0.6 -> 60. Out-of-range values
// are clamped; NaN gets libjpeg's default of 75.
int JpegQuality(double quality) {
  if (std::isnan(quality)) return 75;
  return static_cast<int>(std::clamp(std::round(quality * 100.0), 1.0, 100.0));
}

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

[[noreturn]] void JpegOnError(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}
void JpegOnMessage(j_common_ptr) {}

struct JpegDestination {
  jpeg_destination_mgr mgr;
  Sink* sink;
  uint8_t buffer[1 << 16];
};

void JpegInitDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
  d->mgr.next_output_byte = d->buffer;
  d->mgr.free_in_buffer = sizeof(d->buffer);
}

boolean JpegEmptyBuffer(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
  if (!d->sink->Append(d->buffer, sizeof(d->buffer))) JpegOnError(reinterpret_cast<j_common_ptr>(cinfo));
  d->mgr.next_output_byte = d->buffer;
  d->mgr.free_in_buffer = sizeof(d->buffer);
  return TRUE;
}

void JpegTermDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
  if (!d->sink->Append(d->buffer, sizeof(d->buffer) - d->mgr.free_in_buffer))
    JpegOnError(reinterpret_cast<j_common_ptr>(cinfo));
}

void JpegWriteRows(jpeg_compress_struct* cinfo, const Pixels& px) {
  constexpr int kBatch = 16;
  JSAMPROW rows[kBatch];
  while (cinfo->next_scanline < cinfo->image_height) {
    const int y0 = static_cast<int>(cinfo->next_scanline);
    const int n = std::min(kBatch, px.height - y0);
    for (int i = 0; i < n; ++i)
      rows[i] = const_cast<JSAMPROW>(px.data + static_cast<size_t>(y0 + i) * px.stride);
    jpeg_write_scanlines(cinfo, rows, static_cast<JDIMENSION>(n));
  }
}

// libjpeg reports errors by longjmp: trivially destructible locals only; the
// compressor state lives in the caller's `cinfo`, `err` and `dest`.
bool WriteJpeg(const Pixels& px, int quality, jpeg_compress_struct* cinfo, JpegError* err,
               JpegDestination* dest) {
  cinfo->err = jpeg_std_error(&err->mgr);
  err->mgr.error_exit = JpegOnError;
  err->mgr.output_message = JpegOnMessage;
  if (setjmp(err->jump)) {
    jpeg_destroy_compress(cinfo);
    return false;
  }
  jpeg_create_compress(cinfo);
  dest->mgr.init_destination = JpegInitDestination;
  dest->mgr.empty_output_buffer = JpegEmptyBuffer;
  dest->mgr.term_destination = JpegTermDestination;
  cinfo->dest = &dest->mgr;
  cinfo->image_width = static_cast<JDIMENSION>(px.width);
  cinfo->image_height = static_cast<JDIMENSION>(px.height);
  cinfo->input_components = 4;
  cinfo->in_color_space = JCS_EXT_RGBX;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  JpegWriteRows(cinfo, px);
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  return true;
}

bool EncodeJpeg(const Pixels& px, double quality, Sink* sink) {
  jpeg_compress_struct cinfo{};
  JpegError err{};
  auto dest = std::make_unique<JpegDestination>();
  dest->sink = sink;
  return WriteJpeg(px, JpegQuality(quality), &cinfo, &err, dest.get());
}

}  // namespace

bool EncodePngBytes(const platform::Image& image, std::vector<uint8_t>* out) {
  if (!out || !image || image->width <= 0 || image->height <= 0) return false;
  const size_t stride = static_cast<size_t>(image->width) * 4;
  if (image->rgba.size() / stride < static_cast<size_t>(image->height)) return false;
  Sink sink;
  Pixels px{image->rgba.data(), image->width, image->height, stride};
  if (!EncodePng(px, &sink) || sink.too_large) return false;
  *out = std::move(sink.bytes);
  return true;
}

EncodedImageData EncodeImageData(const platform::Image& image, const std::string& format,
                                 double quality) {
  EncodedImageData record;
  if (!image || image->width <= 0 || image->height <= 0) return record;
  const int width = image->width, height = image->height;
  const size_t stride = static_cast<size_t>(width) * 4;
  if (image->rgba.size() / stride < static_cast<size_t>(height)) return record;  // short bitmap

  // Longer side at most 1920 pixels: each side times min(1920 / longer, 1),
  // rounded down, and at least 1. Integer arithmetic gives the exact floor;
  // in doubles, 1920 / 2148 * 2148 comes out just under 1920 and would floor
  // to 1919.
  const int longer = std::max(width, height);
  auto scaled_side = [&](int side) {
    if (longer <= kEncodeMaxSide) return side;
    return std::max(1, static_cast<int>(int64_t{side} * kEncodeMaxSide / longer));
  };
  const int target_w = scaled_side(width);
  const int target_h = scaled_side(height);

  Pixels px{image->rgba.data(), width, height, stride};
  std::vector<uint8_t> scaled;
  if (target_w != width || target_h != height) {
    scaled.resize(static_cast<size_t>(target_w) * target_h * 4);
    if (!ResampleRgba(px.data, width, height, stride, scaled.data(), target_w, target_h))
      return record;
    px = Pixels{scaled.data(), target_w, target_h, static_cast<size_t>(target_w) * 4};
  }

  const bool jpeg = format == "jpeg" || format == "jpg";
  Sink sink;
  const bool encoded = jpeg ? EncodeJpeg(px, quality, &sink) : EncodePng(px, &sink);
  if (!encoded || sink.too_large) return record;

  record.ok = true;
  record.format = jpeg ? "jpeg" : "png";
  record.data = Base64EncodeText(sink.bytes.data(), sink.bytes.size());
  if (record.data.empty()) {
    record.ok = false;
    record.format.clear();
  }
  return record;
}

}  // namespace addon
