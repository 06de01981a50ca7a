// Base64 text of binary data (standard alphabet, "=" padding, no line breaks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace addon {

// Length of the Base64 text of n bytes: 4 * ceil(n / 3).
constexpr size_t Base64EncodedLength(size_t n) { return (n + 2) / 3 * 4; }

// Base64 text in a malloc'd buffer of exactly its length (no terminating
// NUL). It is written in place by the encoder, with no zero-fill and no copy,
// and can be handed to the host engine as it is (Release).
class Base64Text {
 public:
  Base64Text() = default;
  const char* data() const { return bytes_.get(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return std::string_view(bytes_.get(), size_); }
  std::string str() const { return std::string(view()); }
  // Gives up the buffer; the caller frees it with free().
  char* Release() {
    size_ = 0;
    return bytes_.release();
  }

 private:
  friend Base64Text Base64EncodeText(const uint8_t* data, size_t n);
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> bytes_;
  size_t size_ = 0;
};

// Encodes n bytes in one pass, straight into the text's own buffer. An
// allocation failure gives an empty text.
Base64Text Base64EncodeText(const uint8_t* data, size_t n);
// The same as a std::string (one copy; for small texts and tests).
std::string Base64Encode(const uint8_t* data, size_t n);

// The encoder's paths: the processor's best, or one forced (tests and
// benchmarks). The vector paths exist on x86 only.
enum class Base64Path { kBest, kScalar, kSsse3, kAvx2 };
bool Base64PathAvailable(Base64Path path);
// Encodes with `path` only; empty when this machine cannot run it.
std::string Base64EncodeWithPath(Base64Path path, const uint8_t* data, size_t n);

}  // namespace addon
