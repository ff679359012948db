#include "http/Charset.h"

namespace memoline {
namespace {

std::wstring_view Trimmed(std::wstring_view text) {
    // Control characters count as blanks, as they do for header values.
    while (!text.empty() && text.front() <= L' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() <= L' ')
        text.remove_suffix(1);
    return text;
}

}  // namespace

unsigned CharsetCodePage(std::wstring_view charsetName, const ICharsetPlatform& platform) {
    const std::wstring_view name = Trimmed(charsetName);
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
