// Base64 text of binary data (standard alphabet, "=" padding, no line breaks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace addon {

// Length of the Base64 text of n bytes: 4 * ceil(n / 3).
constexpr size_t Base64EncodedLength(size_t n) { return (n + 2) / 3 * 4; }

// Encodes n bytes in one pass into a string allocated at its final length.
std::string Base64Encode(const uint8_t* data, size_t n);

}  // namespace addon
