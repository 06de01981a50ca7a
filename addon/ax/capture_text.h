// Text limits of a snapshot: per-string caps cut at UTF-8 character
// boundaries and charged against the capture's text budget, and the coercion
// of AXValue to text.
#pragma once

#include <cstddef>
#include <string>

#include "platform/value.h"

namespace addon {

inline constexpr size_t kSnapshotTextBudget = 4194304;
inline constexpr size_t kSnapshotStringCap = 16384;  // role, subrole, title, ...
inline constexpr size_t kSnapshotValueCap = 262144;
inline constexpr size_t kSnapshotActionNameCap = 1024;
inline constexpr size_t kBundleIdCap = 255;

// Cuts text to cap bytes, or to the smaller of cap and *budget when a budget
// is given, then back to a character boundary; the kept length is taken from
// the budget.
void LimitSnapshotText(std::string* text, size_t cap, size_t* budget = nullptr);

// A string as text, a boolean as "true" / "false", a number as an integer
// ("%lld") when finite, integral and within the 64-bit range, else "%g".
// Other types are not coerced (false).
bool CoerceAxValueToString(const platform::Value& value, std::string* out);

}  // namespace addon
