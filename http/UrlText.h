// The bytes of URL text in a charset, for percent-encoding. No platform code.
#pragma once

#include <string>
#include <string_view>

namespace memoline {

// The text in `charSet` by the charset rules of the request layer: an empty or unknown name selects
// the system's ANSI code page; a character the charset cannot hold becomes its default character.
std::string UrlTextToBytes(std::wstring_view text, const std::wstring& charSet);

}  // namespace memoline
