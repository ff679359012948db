// The bytes of URL text in a charset, for percent-encoding. No platform code.
#pragma once

#include <string>
#include <string_view>

namespace memoline {

// The text in `charSet`; an empty or unknown name selects the system's ANSI code page. A character
// the charset cannot hold becomes "?".
std::string UrlTextToBytes(std::wstring_view text, const std::wstring& charSet);

}  // namespace memoline
