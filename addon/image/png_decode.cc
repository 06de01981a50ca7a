#include "image/png_decode.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace addon {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Ancillary chunks (text, profiles) may not make libpng allocate more than this.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Orientation tag (0x0112) of the first IFD of a TIFF-structured EXIF block;
// 1 when absent or unreadable.
int ExifOrientation(const uint8_t* p, size_t n) {
  if (n < 8) return 1;
  bool little;
  if (p[0] == 'I' && p[1] == 'I') {
    little = true;
  } else if (p[0] == 'M' && p[1] == 'M') {
    little = false;
  } else {
    return 1;
  }
  auto u16 = [&](size_t at) -> uint32_t {
    return little ? (p[at] | (uint32_t{p[at + 1]} << 8)) : ((uint32_t{p[at]} << 8) | p[at + 1]);
  };
  auto u32 = [&](size_t at) -> uint32_t {
    return little ? (u16(at) | (u16(at + 2) << 16)) : ((u16(at) << 16) | u16(at + 2));
  };
  if (u16(2) != 42) return 1;
  const size_t ifd = u32(4);
  if (ifd > n || n - ifd < 2) return 1;
  const size_t entries = u16(ifd);
  for (size_t i = 0; i < entries; ++i) {
    const size_t e = ifd + 2 + i * 12;
    if (e > n || n - e < 12) break;
    if (u16(e) == 0x0112 && u16(e + 2) == 3 /* SHORT */ && u32(e + 4) >= 1) {
      const uint32_t v = u16(e + 8);
      return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
    }
  }
  return 1;
}

struct Source {
  const uint8_t* data;
  size_t len;
  size_t pos;
};

void ReadFromSource(png_structp png, png_bytep out, size_t n) {
  auto* src = static_cast<Source*>(png_get_io_ptr(png));
  if (n > src->len - src->pos) png_error(png, "truncated");
  std::memcpy(out, src->data + src->pos, n);
  src->pos += n;
}

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

// The libpng calls live in functions that hold only trivially destructible
// locals, because an error returns through longjmp.
struct Reader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Source src{};
  uint32_t width = 0;
  uint32_t height = 0;
  bool interlaced = false;
};

// Reads the chunks before the image data and sets up conversion to RGBA8.
bool StartRead(Reader* r, uint32_t max_side) {
  if (setjmp(png_jmpbuf(r->png))) return false;
  png_set_read_fn(r->png, &r->src, ReadFromSource);
  png_set_user_limits(r->png, max_side, max_side);
  png_set_chunk_malloc_max(r->png, kMaxChunkBytes);
  png_read_info(r->png, r->info);
  png_uint_32 w = 0, h = 0;
  int depth = 0, color = 0, interlace = 0;
  png_get_IHDR(r->png, r->info, &w, &h, &depth, &color, &interlace, nullptr, nullptr);
  png_set_expand(r->png);  // palette -> RGB, low-bit grey -> 8 bit, tRNS -> alpha
  png_set_scale_16(r->png);
  png_set_gray_to_rgb(r->png);
  png_set_add_alpha(r->png, 0xff, PNG_FILLER_AFTER);
  // Interlaced images are read pass by pass as sub-images (no
  // png_set_interlace_handling), so no full-image buffer is needed.
  png_read_update_info(r->png, r->info);
  if (png_get_channels(r->png, r->info) != 4 || png_get_bit_depth(r->png, r->info) != 8 ||
      png_get_rowbytes(r->png, r->info) != static_cast<size_t>(w) * 4)
    return false;
  r->width = w;
  r->height = h;
  r->interlaced = interlace != PNG_INTERLACE_NONE;
  return true;
}

bool ReadRow(Reader* r, uint8_t* row) {
  if (setjmp(png_jmpbuf(r->png))) return false;
  png_read_row(r->png, row, nullptr);
  return true;
}

// Reads the chunks after the image data up to the end chunk, so a file cut
// anywhere short of its end counts as broken.
bool FinishRead(Reader* r) {
  if (setjmp(png_jmpbuf(r->png))) return false;
  png_read_end(r->png, nullptr);
  return true;
}

}  // namespace

std::optional<PngHeader> ReadPngHeader(const uint8_t* data, size_t len) {
  if (!data || len < 8 + 25 || std::memcmp(data, kSignature, 8) != 0) return std::nullopt;
  PngHeader h;
  size_t pos = 8;
  bool first = true;
  while (len - pos >= 12) {
    const uint32_t size = Be32(data + pos);
    const uint8_t* type = data + pos + 4;
    if (size > 0x7fffffffu || size > len - pos - 12) break;  // truncated: the decoder reports it
    const uint8_t* body = data + pos + 8;
    if (first) {
      if (std::memcmp(type, "IHDR", 4) != 0 || size != 13) return std::nullopt;
      h.width = Be32(body);
      h.height = Be32(body + 4);
      h.interlaced = body[12] != 0;
      first = false;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      break;
    } else if (std::memcmp(type, "acTL", 4) == 0 && size >= 8) {
      h.frames = Be32(body);
    } else if (std::memcmp(type, "eXIf", 4) == 0) {
      h.orientation = ExifOrientation(body, size);
    }
    pos += 12 + size;
  }
  if (first) return std::nullopt;
  return h;
}

bool DecodePngRows(const uint8_t* data, size_t len, uint32_t max_side,
                   const std::function<void(const PngRow&)>& sink) {
  if (!data || len < 8 || std::memcmp(data, kSignature, 8) != 0) return false;
  Reader r;
  r.src = Source{data, len, 0};
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!r.png) return false;
  r.info = png_create_info_struct(r.png);
  bool ok = r.info && StartRead(&r, max_side);
  if (ok) {
    std::vector<uint8_t> row(static_cast<size_t>(r.width) * 4);
    const int passes = r.interlaced ? 7 : 1;
    for (int pass = 0; ok && pass < passes; ++pass) {
      PngRow out;
      uint32_t rows = r.height, y0 = 0, dy = 1;
      out.count = r.width;
      if (r.interlaced) {
        out.count = PNG_PASS_COLS(r.width, pass);
        rows = PNG_PASS_ROWS(r.height, pass);
        out.x0 = PNG_PASS_START_COL(pass);
        out.dx = PNG_PASS_COL_OFFSET(pass);
        y0 = PNG_PASS_START_ROW(pass);
        dy = PNG_PASS_ROW_OFFSET(pass);
      }
      if (out.count == 0 || rows == 0) continue;  // libpng skips empty passes too
      out.rgba = row.data();
      for (uint32_t i = 0; i < rows; ++i) {
        if (!ReadRow(&r, row.data())) {
          ok = false;
          break;
        }
        out.y = y0 + i * dy;
        sink(out);
      }
    }
    ok = ok && FinishRead(&r);
  }
  png_destroy_read_struct(&r.png, r.info ? &r.info : nullptr, nullptr);
  return ok;
}

std::optional<DecodedPng> DecodePng(const uint8_t* data, size_t len, uint64_t max_pixels) {
  const std::optional<PngHeader> header = ReadPngHeader(data, len);
  if (!header || header->width == 0 || header->height == 0 ||
      uint64_t{header->width} * header->height > max_pixels)
    return std::nullopt;
  DecodedPng img;
  img.width = header->width;
  img.height = header->height;
  img.rgba.assign(static_cast<size_t>(img.width) * img.height * 4, 0);
  const bool ok = DecodePngRows(data, len, 0x7fffffff, [&](const PngRow& row) {
    if (row.y >= img.height) return;
    uint8_t* dst = &img.rgba[static_cast<size_t>(row.y) * img.width * 4];
    for (uint32_t i = 0; i < row.count; ++i) {
      const uint32_t x = row.x0 + i * row.dx;
      if (x < img.width) std::memcpy(dst + static_cast<size_t>(x) * 4, row.rgba + i * 4, 4);
    }
  });
  if (!ok) return std::nullopt;
  return img;
}

}  // namespace addon
