// Small text helpers shared by the core and every backend: UTF-16 surrogate
// pairs and conversions, ASCII case folding and file URLs.
#pragma once

#include <string>
#include <string_view>

namespace common {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

inline bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c < 0xDC00; }
inline bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c < 0xE000; }
inline bool IsSurrogate(char32_t c) { return c >= 0xD800 && c < 0xE000; }

// Appends `cp` as one unit or a surrogate pair; a surrogate or a value past
// U+10FFFF is appended as U+FFFD.
void AppendUtf16(std::u16string* out, char32_t cp);
// Appends `cp` as UTF-8, with the same replacement as AppendUtf16.
void AppendUtf8(std::string* out, char32_t cp);

// Code points of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::u32string CodePointsOfUtf16(std::u16string_view s);
std::string Utf8OfUtf16(std::u16string_view s);
// UTF-16 of UTF-8 text; every byte that does not begin a well-formed
// sequence (stray, overlong, truncated, an encoded surrogate) becomes U+FFFD.
std::u16string Utf16OfUtf8(std::string_view s);

// ASCII letters compared without case; other bytes must be equal.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
std::string LowerAscii(std::string s);

// "file://" + the path with every byte but A-Z a-z 0-9 - _ . ~ / written as
// %XX (upper-case hex).
std::string FileUrlOfPath(std::string_view path);
// The path of a file URL: "file://" (when present) removed and every %XX
// decoded; a '%' not followed by two hex digits stays as it is.
std::string PathOfFileUrl(std::string_view url);

}  // namespace common
