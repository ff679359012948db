#include "core/TextUtil.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace memoline {
namespace {

TEST(TextUtil, CaseFoldingIsAsciiOnly) {
    const struct {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    } cases[] = {
        {L"Content-Length", L"content-LENGTH", true},
        {L"", L"", true},
        {L"chunked", L"chunke", false},
        {L"\u0130d", L"id", false},             // a Turkish locale would fold the dotted capital I to "i"
        {L"\u212Aeep", L"keep", false},         // nor is the Kelvin sign a "k"
        {L"\u00C4rger", L"\u00E4rger", false},  // letters beyond ASCII keep their case
        {L"[", L"{", false},                    // "[" is not an upper-case "{"
    };
    for (const auto& c : cases)
        EXPECT_EQ(SameTextAscii(c.a, c.b), c.same) << testing::PrintToString(std::wstring(c.a));
    EXPECT_EQ(LowerAscii(L"HTTPS://Host.Example/\u00C4"), L"https://host.example/\u00C4");
    EXPECT_TRUE(StartsWithAscii(L"Bytes 0-1/2", L"bytes"));
    EXPECT_FALSE(StartsWithAscii(L"byte", L"bytes"));
}

TEST(TextUtil, TrimStripsBlanksAndControlCharacters) {
    EXPECT_EQ(Trim(L" \t\r\n\x01value with  blanks\x1F "), L"value with  blanks");
    EXPECT_EQ(Trim(L" \t "), L"");
    EXPECT_EQ(Trim(L"\u00A0x\u00A0"), L"\u00A0x\u00A0");  // a no-break space is text
    EXPECT_EQ(TrimView(std::string_view(" \t200 \r")), "200");
    EXPECT_EQ(TrimView(std::string_view("\xA0x")), "\xA0x");  // a high byte is not a blank
}

TEST(TextUtil, ToUtf8) {
    const struct {
        std::wstring text;
        std::string utf8;
    } cases[] = {
        {L"", ""},
        {L"plain ASCII", "plain ASCII"},
        {L"\u00E9", "\xC3\xA9"},
        {L"\u20AC 5", "\xE2\x82\xAC 5"},
        {L"\U0001F600", "\xF0\x9F\x98\x80"},
        {L"C:\\Users\\J\u00F6rg\\Temp", "C:\\Users\\J\xC3\xB6rg\\Temp"},
        {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x", "\xEF\xBF\xBDx"},  // a lone surrogate
        {std::wstring(1, static_cast<wchar_t>(0xDC00)), "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToUtf8(c.text), c.utf8) << testing::PrintToString(c.utf8);
#ifdef _WIN32
        // The system's own conversion gives the same bytes.
        const int n = WideCharToMultiByte(CP_UTF8, 0, c.text.data(), static_cast<int>(c.text.size()), nullptr, 0,
                                          nullptr, nullptr);
        std::string system(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_UTF8, 0, c.text.data(), static_cast<int>(c.text.size()), system.data(), n, nullptr,
                            nullptr);
        EXPECT_EQ(ToUtf8(c.text), system) << testing::PrintToString(c.utf8);
#endif
    }
}

}  // namespace
}  // namespace memoline
