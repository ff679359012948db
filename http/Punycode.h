// Host names with non-ASCII labels, turned into their ASCII form ("xn--" and Punycode, RFC 3492).
// No platform code: builds in the host lane too.
#pragma once

#include <string>
#include <string_view>

namespace memoline {

// The Punycode form of one label's code points (without the "xn--" prefix).
// Throws EnetIdnError when a code point is not a Unicode scalar value ("Bad input value for the IDN
// translator") or the label is too long for 32-bit arithmetic ("Input value needs wider integers to
// translate").
std::string PunycodeEncode(std::u32string_view codePoints);

// The host name with every label that holds a character at or above U+0080 replaced by "xn--" and its
// Punycode form; pure-ASCII labels are kept as they are. UTF-16 surrogate pairs are combined first
// (wchar_t is 16-bit under Windows). Throws EnetIdnError as PunycodeEncode.
std::wstring HostToAscii(std::wstring_view host);

}  // namespace memoline
