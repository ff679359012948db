#include "http/Charset.h"

#include <gtest/gtest.h>

#include <string>

namespace memoline {
namespace {

TEST(Charset, NamesSelectCodePages) {
    const struct {
        const wchar_t* name;
        unsigned codePage;
    } cases[] = {
        {L"utf-8", kCodePageUtf8},
        {L" UTF-8\t", kCodePageUtf8},
        {L"ISO-8859-1", kCodePageIso8859_1},
        {L"windows-1252", kCodePageWindows1252},
        {L"US-ASCII", kCodePageUsAscii},
        {L"", kCodePageWindows1252},
        {L"no-such-charset", kCodePageWindows1252},
    };
    // The test systems run with Windows-1252 as their ANSI code page.
    for (const auto& c : cases)
        EXPECT_EQ(CharsetCodePage(c.name), c.codePage) << c.name;
}

TEST(Charset, Encodes) {
    const struct {
        const wchar_t* text;
        const wchar_t* charSet;
        std::string bytes;
    } cases[] = {
        {L"a\u00e9\u20ac", L"utf-8", "a\xC3\xA9\xE2\x82\xAC"},
        {L"\xD800\xDF48", L"utf-8", "\xF0\x90\x8D\x88"},  // a surrogate pair is one character
        {L"a\u00e9", L"iso-8859-1", "a\xE9"},
        {L"\u20ac\u0152\u00ff", L"windows-1252", "\x80\x8C\xFF"},
        {L"\u20ac", L"iso-8859-1", "?"},
        {L"\u00e9", L"us-ascii", "?"},  // no best fit: not "e"
        {L"\u0100", L"", "?"},
        {L"", L"utf-8", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CharsetEncode(c.text, c.charSet), c.bytes) << c.bytes;
}

TEST(Charset, Decodes) {
    const struct {
        std::string bytes;
        const wchar_t* charSet;
        std::wstring text;
    } cases[] = {
        {"a\xC3\xA9", L"utf-8", L"a\u00e9"},
        {"\xF0\x90\x8D\x88", L"utf-8", std::wstring{wchar_t(0xD800), wchar_t(0xDF48)}},
        {"a\xFF", L"utf-8", L"a\uFFFD"},
        {"\x80\xE9", L"", L"\u20ac\u00e9"},
        {"\x80\xE9", L"iso-8859-1", L"\u0080\u00e9"},
        {"a\xE9", L"us-ascii", L"ai"},              // US-ASCII keeps the low seven bits
        {std::string("ab\0", 3), L"utf-8", L"ab"},  // the single trailing zero is dropped
        {std::string("a\0\0", 3), L"utf-8", std::wstring(L"a\0", 2)},
        {std::string("a\0b", 3), L"utf-8", std::wstring(L"a\0b", 3)},
        {std::string("\0", 1), L"utf-8", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CharsetDecode(c.bytes, c.charSet), c.text) << c.bytes;
}

// A platform whose code page 2 decodes nothing: the bytes are decoded again as US-ASCII.
class FailingPlatform : public ICharsetPlatform {
public:
    unsigned AnsiCodePage() const override { return 1; }
    unsigned CodePageFromName(std::wstring_view name) const override { return name == L"broken" ? 2 : 0; }
    std::string Encode(unsigned, std::wstring_view) const override { return {}; }
    std::wstring Decode(unsigned codePage, std::string_view bytes) const override {
        if (codePage == 2)
            return {};
        return std::to_wstring(codePage) + L":" + std::wstring(bytes.begin(), bytes.end());
    }
};

TEST(Charset, EmptyDecodingIsRetriedAsAscii) {
    const FailingPlatform platform;
    EXPECT_EQ(CharsetDecode("abc", L"broken", platform), L"20127:abc");
    EXPECT_EQ(CharsetDecode(std::string("abc\0", 4), L"  ", platform), L"1:abc");
    EXPECT_EQ(CharsetDecode("abc", L"unknown", platform), L"1:abc");
}

}  // namespace
}  // namespace memoline
