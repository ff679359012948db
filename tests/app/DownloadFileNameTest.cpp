#include "app/DownloadFileName.h"

#include <gtest/gtest.h>

#include <string>

namespace memoline {
namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(LinkFileName, IsTheTextAfterTheLastSlash) {
    struct Case {
        const wchar_t* link;
        const wchar_t* name;
    } cases[] = {
        {L"http://127.0.0.1:8080/files/Setup.exe", L"Setup.exe"},
        {L"https://host/a/b/setup%20v5.exe", L"setup%20v5.exe"},  // kept as it stands, not decoded
        {L"http://host/get?file=a/b.exe", L"b.exe"},
        {L"Setup.exe", L"Setup.exe"},  // no "/": the whole link
        {L"http://host/files/", L""},
        {L"", L""},
        {L"http://host/files/..\\..\\Windows\\x.exe", L"..\\..\\Windows\\x.exe"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Narrow(LinkFileName(c.link)), Narrow(c.name)) << Narrow(c.link);
}

TEST(IsPlainFileName, AcceptsOnlyANameInsideTheFolder) {
    struct Case {
        std::wstring name;
        bool plain;
    } cases[] = {
        {L"Setup.exe", true},
        {L"Memoline5ServerSetup-5.10.0.exe", true},
        {L"setup%20v5.exe", true},
        {L"a.b.c", true},
        {L"", false},
        {L".", false},
        {L"..", false},
        {L"a..exe", false},
        {L"..\\Setup.exe", false},
        {L"sub\\Setup.exe", false},
        {L"C:Setup.exe", false},
        {L"Setup.exe:stream", false},
        {L"Set\tup.exe", false},
        {std::wstring(L"Setup\0.exe", 10), false},
        {L"Set\x7Fup.exe", false},
        {L"a<b", false},
        {L"a>b", false},
        {L"a\"b", false},
        {L"a|b", false},
        {L"a?b", false},
        {L"a*b", false},
        // Device names, which the file would be written to and started from.
        {L"NUL", false},
        {L"nul.exe", false},
        {L"Con.Setup.exe", false},
        {L"COM1", false},
        {L"lpt3.exe", false},
        {L"AUX ", false},
        {L"nul .exe", false},
        {L"Nul.", false},
        {L"NULL.exe", true},
        {L"Setup-nul.exe", true},
        {L"COM10.exe", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsPlainFileName(c.name), c.plain) << Narrow(c.name);
}

}  // namespace
}  // namespace memoline
