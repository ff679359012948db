// Response text to a list of lines. No platform code.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace memoline {

// Splits at CR LF, a lone CR and a lone LF; a line break at the very end adds no empty line; a zero
// character ends the text. A byte-order mark is kept.
std::vector<std::wstring> SplitResponseText(std::wstring_view text);

}  // namespace memoline
