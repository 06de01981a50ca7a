#include "image/base64.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KV_BASE64_X86 1
#endif

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

#ifdef KV_BASE64_X86
// Vector encoding: 12 input bytes per 128-bit lane become 16 characters. The
// bytes are spread so each 32-bit lane holds one 3-byte group, the four 6-bit
// indices are moved into place with one multiply-high and one multiply-low,
// and the indices become characters through a 16-entry offset table
// (a well-known technique for SSSE3 / AVX2 Base64).
#define KV_B64_SPREAD 10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1

__attribute__((target("avx2"))) size_t EncodeAvx2(const uint8_t* in, size_t n, char* out) {
  size_t i = 0;
  const __m256i spread = _mm256_set_epi8(KV_B64_SPREAD, KV_B64_SPREAD);
  const __m256i offsets = _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                           '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                           '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0, 'a' - 26,
                                           '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                           '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                           '+' - 62, '/' - 63, 'A', 0, 0);
  // Each iteration reads 16 bytes at i and at i + 12: stop while 28 remain.
  for (; i + 28 <= n; i += 24, out += 32) {
    __m256i v = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 12)), 1);
    v = _mm256_shuffle_epi8(v, spread);
    const __m256i t0 = _mm256_and_si256(v, _mm256_set1_epi32(0x0fc0fc00));
    const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
    const __m256i t2 = _mm256_and_si256(v, _mm256_set1_epi32(0x003f03f0));
    const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
    const __m256i idx = _mm256_or_si256(t1, t3);
    __m256i r = _mm256_subs_epu8(idx, _mm256_set1_epi8(51));
    const __m256i lt26 = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), idx);
    r = _mm256_or_si256(r, _mm256_and_si256(lt26, _mm256_set1_epi8(13)));
    r = _mm256_add_epi8(_mm256_shuffle_epi8(offsets, r), idx);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), r);
  }
  return i;
}

__attribute__((target("ssse3"))) size_t EncodeSsse3(const uint8_t* in, size_t n, char* out) {
  size_t i = 0;
  const __m128i spread = _mm_set_epi8(KV_B64_SPREAD);
  const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                        '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                        '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  for (; i + 16 <= n; i += 12, out += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    v = _mm_shuffle_epi8(v, spread);
    const __m128i t0 = _mm_and_si128(v, _mm_set1_epi32(0x0fc0fc00));
    const __m128i t1 = _mm_mulhi_epu16(t0, _mm_set1_epi32(0x04000040));
    const __m128i t2 = _mm_and_si128(v, _mm_set1_epi32(0x003f03f0));
    const __m128i t3 = _mm_mullo_epi16(t2, _mm_set1_epi32(0x01000010));
    const __m128i idx = _mm_or_si128(t1, t3);
    __m128i r = _mm_subs_epu8(idx, _mm_set1_epi8(51));
    const __m128i lt26 = _mm_cmpgt_epi8(_mm_set1_epi8(26), idx);
    r = _mm_or_si128(r, _mm_and_si128(lt26, _mm_set1_epi8(13)));
    r = _mm_add_epi8(_mm_shuffle_epi8(offsets, r), idx);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), r);
  }
  return i;
}
#undef KV_B64_SPREAD

#endif

// A vector encoder: encodes a prefix of whole 3-byte groups, answers its
// length in bytes.
using VectorEncoder = size_t (*)(const uint8_t*, size_t, char*);

bool PathAvailable(Base64Path path) {
#ifdef KV_BASE64_X86
  __builtin_cpu_init();
  switch (path) {
    case Base64Path::kBest:
    case Base64Path::kScalar: return true;
    case Base64Path::kSsse3: return __builtin_cpu_supports("ssse3");
    case Base64Path::kAvx2: return __builtin_cpu_supports("avx2");
  }
  return false;
#else
  return path == Base64Path::kBest || path == Base64Path::kScalar;
#endif
}

VectorEncoder EncoderFor(Base64Path path) {
#ifdef KV_BASE64_X86
  if (path == Base64Path::kBest) {
    path = PathAvailable(Base64Path::kAvx2)    ? Base64Path::kAvx2
           : PathAvailable(Base64Path::kSsse3) ? Base64Path::kSsse3
                                               : Base64Path::kScalar;
  }
  if (path == Base64Path::kAvx2 && PathAvailable(path)) return &EncodeAvx2;
  if (path == Base64Path::kSsse3 && PathAvailable(path)) return &EncodeSsse3;
#endif
  (void)path;
  return nullptr;
}

// Chosen once from the processor's features.
const VectorEncoder kVectorEncode = EncoderFor(Base64Path::kBest);

// Encodes n bytes into out (Base64EncodedLength(n) characters, padded).
void EncodeInto(const uint8_t* data, size_t n, char* out, VectorEncoder vector) {
  size_t i = 0;
  if (vector) {
    i = vector(data, n, out);
    out += i / 3 * 4;
  }
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
}

}  // namespace

Base64Text Base64EncodeText(const uint8_t* data, size_t n) {
  Base64Text text;
  const size_t len = Base64EncodedLength(n);
  if (len == 0) return text;
  // malloc, not new[]: the buffer may be handed to the engine, which frees
  // it through a plain function.
  char* out = static_cast<char*>(std::malloc(len));
  if (!out) return text;
  EncodeInto(data, n, out, kVectorEncode);
  text.bytes_.reset(out);
  text.size_ = len;
  return text;
}

std::string Base64Encode(const uint8_t* data, size_t n) {
  return Base64EncodeText(data, n).str();
}

bool Base64PathAvailable(Base64Path path) { return PathAvailable(path); }

std::string Base64EncodeWithPath(Base64Path path, const uint8_t* data, size_t n) {
  if (!PathAvailable(path)) return std::string();
  std::string out(Base64EncodedLength(n), '\0');
  if (n > 0) EncodeInto(data, n, out.data(), EncoderFor(path));
  return out;
}

}  // namespace addon
