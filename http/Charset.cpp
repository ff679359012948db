#include "http/Charset.h"

#include "core/TextUtil.h"

namespace memoline {

unsigned CharsetCodePage(std::wstring_view charsetName, const ICharsetPlatform& platform) {
    const std::wstring_view name = TrimView(charsetName);
    if (name.empty())
        return platform.AnsiCodePage();
    const unsigned codePage = platform.CodePageFromName(name);
    return codePage != 0 ? codePage : platform.AnsiCodePage();
}

std::string CharsetEncode(std::wstring_view text, std::wstring_view charsetName, const ICharsetPlatform& platform) {
    if (text.empty())
        return {};
    return platform.Encode(CharsetCodePage(charsetName, platform), text);
}

std::wstring CharsetDecode(std::string_view bytes, std::wstring_view charsetName, const ICharsetPlatform& platform) {
    // Bodies written by C programs often end in their string terminator.
    if (!bytes.empty() && bytes.back() == '\0')
        bytes.remove_suffix(1);
    if (bytes.empty())
        return {};
    std::wstring text = platform.Decode(CharsetCodePage(charsetName, platform), bytes);
    if (text.empty())
        text = platform.Decode(kCodePageUsAscii, bytes);
    return text;
}

unsigned CharsetCodePage(std::wstring_view charsetName) {
    return CharsetCodePage(charsetName, CharsetPlatform());
}

std::string CharsetEncode(std::wstring_view text, std::wstring_view charsetName) {
    return CharsetEncode(text, charsetName, CharsetPlatform());
}

std::wstring CharsetDecode(std::string_view bytes, std::wstring_view charsetName) {
    return CharsetDecode(bytes, charsetName, CharsetPlatform());
}

}  // namespace memoline
