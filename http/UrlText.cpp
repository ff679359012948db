#include "http/UrlText.h"

namespace memoline {

std::string UrlTextToBytes(std::wstring_view text, const std::wstring& /*charSet*/) {
    std::string bytes;
    bytes.reserve(text.size());
    for (wchar_t c : text)
        bytes += static_cast<uint32_t>(c) < 0x100 ? static_cast<char>(c) : '?';
    return bytes;
}

}  // namespace memoline
