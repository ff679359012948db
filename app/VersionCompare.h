// Dotted version texts ("5.9.0") and their comparison. No platform code: builds in the host lane too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace memoline {

// One part of a dotted version as a number: optional leading blanks, an optional sign, then decimal
// digits, or hexadecimal digits after "$", "x" or "0x". Anything else, and a decimal value outside
// the signed 32-bit range, gives 0.
int32_t VersionPartToInt(std::wstring_view part);

// -1 when a is lower than b, 0 when equal, 1 when higher. Parts are compared as numbers; a missing
// part counts as 0, so "5.9" equals "5.9.0".
int CompareVersions(std::wstring_view a, std::wstring_view b);

}  // namespace memoline
