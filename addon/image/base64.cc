#include "image/base64.h"

#include <array>
#include <cstring>

namespace addon {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Every 12-bit group maps to its two output characters, so three input bytes
// (24 bits) take two table loads and two 2-byte stores.
struct PairTable {
  std::array<char, 4096 * 2> chars{};
  constexpr PairTable() {
    for (int i = 0; i < 4096; ++i) {
      chars[i * 2] = kAlphabet[i >> 6];
      chars[i * 2 + 1] = kAlphabet[i & 63];
    }
  }
};
constexpr PairTable kPairs;

inline void PutPair(char* out, uint32_t index) { std::memcpy(out, &kPairs.chars[index * 2], 2); }

inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#elif !(defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
  v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
#endif
  return v;
}

}  // namespace

std::string Base64Encode(const uint8_t* data, size_t n) {
  std::string text(Base64EncodedLength(n), '\0');
  if (n == 0) return text;
  char* out = text.data();
  size_t i = 0;
  // Main loop: 12 input bytes -> 16 characters, read as two 8-byte big-endian
  // words of which the top 48 bits are used; the second word's last two bytes
  // are read but not used, so the loop stops before they would pass the end.
  for (; i + 14 <= n; i += 12, out += 16) {
    const uint64_t a = LoadBigEndian64(data + i);
    const uint64_t b = LoadBigEndian64(data + i + 6);
    PutPair(out, static_cast<uint32_t>(a >> 52));
    PutPair(out + 2, static_cast<uint32_t>(a >> 40) & 0xfff);
    PutPair(out + 4, static_cast<uint32_t>(a >> 28) & 0xfff);
    PutPair(out + 6, static_cast<uint32_t>(a >> 16) & 0xfff);
    PutPair(out + 8, static_cast<uint32_t>(b >> 52));
    PutPair(out + 10, static_cast<uint32_t>(b >> 40) & 0xfff);
    PutPair(out + 12, static_cast<uint32_t>(b >> 28) & 0xfff);
    PutPair(out + 14, static_cast<uint32_t>(b >> 16) & 0xfff);
  }
  for (; i + 3 <= n; i += 3, out += 4) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    PutPair(out, v >> 12);
    PutPair(out + 2, v & 0xfff);
  }
  if (i < n) {  // one or two bytes left: pad to a full group
    const uint32_t b0 = data[i];
    const uint32_t b1 = i + 1 < n ? data[i + 1] : 0;
    out[0] = kAlphabet[b0 >> 2];
    out[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    out[2] = i + 1 < n ? kAlphabet[(b1 & 15) << 2] : '=';
    out[3] = '=';
  }
  return text;
}

}  // namespace addon
