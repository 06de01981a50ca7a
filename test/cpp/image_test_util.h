// Helpers for the image tests: bitmaps, a plain Base64 decoder, a PNG writer
// for every pixel layout, and a JPEG reader.
#pragma once

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "platform/value.h"

namespace addon::testing {

inline std::shared_ptr<platform::Bitmap> MakeBitmap(int w, int h, uint32_t premultiplied_rgba) {
  auto b = std::make_shared<platform::Bitmap>();
  b->width = w;
  b->height = h;
  b->rgba.resize(static_cast<size_t>(w) * h * 4);
  for (size_t i = 0; i < b->rgba.size(); i += 4) {
    b->rgba[i] = static_cast<uint8_t>(premultiplied_rgba >> 24);
    b->rgba[i + 1] = static_cast<uint8_t>(premultiplied_rgba >> 16);
    b->rgba[i + 2] = static_cast<uint8_t>(premultiplied_rgba >> 8);
    b->rgba[i + 3] = static_cast<uint8_t>(premultiplied_rgba);
  }
  return b;
}

inline uint8_t* PixelAt(platform::Bitmap& b, int x, int y) {
  return &b.rgba[(static_cast<size_t>(y) * b.width + x) * 4];
}

// Straightforward decoder; nullopt on any character outside the alphabet or a
// length that is not a multiple of 4.
inline std::optional<std::vector<uint8_t>> Base64Decode(const std::string& s) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (s.size() % 4 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  for (size_t i = 0; i < s.size(); i += 4) {
    uint32_t v = 0;
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s[i + k];
      uint32_t d = 0;
      if (c == '=' && i + 4 == s.size() && k >= 2) {
        ++pad;
      } else {
        const size_t pos = kAlphabet.find(c);
        if (pos == std::string::npos || pad) return std::nullopt;
        d = static_cast<uint32_t>(pos);
      }
      v = (v << 6) | d;
    }
    out.push_back(static_cast<uint8_t>(v >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(v >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

enum class PngLayout { kRgba8, kRgb8, kGrayAlpha8, kRgba16, kPalette };

struct PngOptions {
  PngLayout layout = PngLayout::kRgba8;
  bool interlaced = false;
  // Chunks written after the header chunk, before the image data: {type, body}.
  std::vector<std::pair<std::string, std::vector<uint8_t>>> extra_chunks;
};

namespace detail {
inline void AppendBytes(png_structp png, png_bytep data, size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
inline void NoFlush(png_structp) {}

struct PngWriteJob {
  uint32_t w, h;
  int color, depth;
  bool interlaced;
  const std::vector<std::vector<uint8_t>>* rows;
  const std::vector<png_color>* palette;
  const std::vector<png_byte>* trans;
  const std::vector<std::pair<std::string, std::vector<uint8_t>>>* extra_chunks;
  std::vector<uint8_t>* out;
};

// libpng errors return here by longjmp: no locals with destructors.
inline bool WritePngJob(png_structp png, png_infop info, const PngWriteJob& job) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, job.out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, job.w, job.h, job.depth, job.color,
               job.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (job.color == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, job.palette->data(), static_cast<int>(job.palette->size()));
    png_set_tRNS(png, info, job.trans->data(), static_cast<int>(job.trans->size()), nullptr);
  }
  png_write_info(png, info);
  for (const auto& chunk : *job.extra_chunks)
    png_write_chunk(png, reinterpret_cast<png_const_bytep>(chunk.first.c_str()), chunk.second.data(),
                    chunk.second.size());
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < job.h; ++y) png_write_row(png, (*job.rows)[y].data());
  png_write_end(png, info);
  return true;
}
}  // namespace detail

// Writes straight-alpha RGBA pixels in the requested layout (grey layouts use
// the red channel; RGB drops alpha; the palette layout needs at most 256
// distinct colours).
inline std::vector<uint8_t> WritePng(uint32_t w, uint32_t h, const std::vector<uint8_t>& rgba,
                                     const PngOptions& options = {}) {
  std::vector<uint8_t> out;
  std::vector<std::vector<uint8_t>> rows(h);
  std::vector<png_color> palette;
  std::vector<png_byte> trans;
  std::map<uint32_t, uint8_t> index;
  int color = PNG_COLOR_TYPE_RGBA, depth = 8;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
      std::vector<uint8_t>& row = rows[y];
      switch (options.layout) {
        case PngLayout::kRgba8:
          row.insert(row.end(), p, p + 4);
          break;
        case PngLayout::kRgb8:
          color = PNG_COLOR_TYPE_RGB;
          row.insert(row.end(), p, p + 3);
          break;
        case PngLayout::kGrayAlpha8:
          color = PNG_COLOR_TYPE_GRAY_ALPHA;
          row.push_back(p[0]);
          row.push_back(p[3]);
          break;
        case PngLayout::kRgba16:
          depth = 16;
          for (int k = 0; k < 4; ++k) row.insert(row.end(), {p[k], p[k]});
          break;
        case PngLayout::kPalette: {
          color = PNG_COLOR_TYPE_PALETTE;
          const uint32_t key = (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
          auto it = index.find(key);
          if (it == index.end()) {
            it = index.emplace(key, static_cast<uint8_t>(palette.size())).first;
            palette.push_back(png_color{p[0], p[1], p[2]});
            trans.push_back(p[3]);
          }
          row.push_back(it->second);
          break;
        }
      }
    }
  }
  detail::PngWriteJob job{w, h, color, depth, options.interlaced, &rows, &palette, &trans,
                         &options.extra_chunks, &out};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const bool ok = detail::WritePngJob(png, info, job);
  png_destroy_write_struct(&png, &info);
  if (!ok) out.clear();
  return out;
}

struct DecodedJpeg {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

namespace detail {
struct JpegErr {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
[[noreturn]] inline void JpegFail(j_common_ptr c) { longjmp(reinterpret_cast<JpegErr*>(c->err)->jump, 1); }
inline bool ReadJpeg(const std::vector<uint8_t>& bytes, jpeg_decompress_struct* d, JpegErr* err,
                     DecodedJpeg* out) {
  d->err = jpeg_std_error(&err->mgr);
  err->mgr.error_exit = JpegFail;
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(d);
    return false;
  }
  jpeg_create_decompress(d);
  jpeg_mem_src(d, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(d, TRUE);
  d->out_color_space = JCS_RGB;
  jpeg_start_decompress(d);
  out->width = static_cast<int>(d->output_width);
  out->height = static_cast<int>(d->output_height);
  out->rgb.resize(static_cast<size_t>(out->width) * out->height * 3);
  while (d->output_scanline < d->output_height) {
    JSAMPROW row = &out->rgb[static_cast<size_t>(d->output_scanline) * out->width * 3];
    jpeg_read_scanlines(d, &row, 1);
  }
  jpeg_finish_decompress(d);
  jpeg_destroy_decompress(d);
  return true;
}
}  // namespace detail

inline std::optional<DecodedJpeg> DecodeJpeg(const std::vector<uint8_t>& bytes) {
  jpeg_decompress_struct d{};
  detail::JpegErr err{};
  DecodedJpeg out;
  if (!detail::ReadJpeg(bytes, &d, &err, &out)) return std::nullopt;
  return out;
}

}  // namespace addon::testing
