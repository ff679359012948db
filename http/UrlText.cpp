#include "http/UrlText.h"

#include "http/Charset.h"

namespace memoline {

std::string UrlTextToBytes(std::wstring_view text, const std::wstring& charSet) {
    return CharsetEncode(text, charSet);
}

}  // namespace memoline
