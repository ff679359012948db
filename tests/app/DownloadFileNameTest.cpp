#include "app/DownloadFileName.h"

#include <gtest/gtest.h>

#include <string>

namespace memoline {
namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(LinkFileName, IsThePathsLastSegmentDecoded) {
    struct Case {
        const wchar_t* link;
        std::wstring name;
        bool plain;  // what IsPlainFileName says of the name
    } cases[] = {
        {L"http://127.0.0.1:8080/files/Setup.exe", L"Setup.exe", true},
        {L"https://host/a/b/setup%20v5.exe", L"setup v5.exe", true},
        {L"http://host/get?file=a/b.exe", L"get", true},  // the query names no file
        {L"https://cdn/x/Setup.exe?token=a/b%2F..&e=1", L"Setup.exe", true},
        {L"https://cdn/x/Setup.exe#part/2", L"Setup.exe", true},
        {L"https://cdn/x/Setup.exe?", L"Setup.exe", true},
        {L"Setup.exe", L"Setup.exe", true},  // no "/": the whole link
        {L"http://host/files/", L"", false},
        {L"http://host/files/?name=Setup.exe", L"", false},
        {L"", L"", false},
        {L"http://host/files/..\\..\\Windows\\x.exe", L"..\\..\\Windows\\x.exe", false},
        // Escapes that climb out, or reach a stream or a device, once decoded.
        {L"http://host/files/%2E%2E", L"..", false},
        // The engine's decoding knows upper-case digits only and drops other pairs.
        {L"http://host/files/%2e%2e", L"", false},
        {L"http://host/files/%2E%2E%5CWindows%5Cx.exe", L"..\\Windows\\x.exe", false},
        {L"http://host/files/a%2F..%2F..%2Fx.exe", L"a/../../x.exe", false},
        {L"http://host/files/x%2Fy.exe", L"x/y.exe", false},
        {L"http://host/files/Setup.exe%3Astream", L"Setup.exe:stream", false},
        {L"http://host/files/nul%2Eexe", L"nul.exe", false},
        {L"http://host/files/Setup%00.exe", std::wstring(L"Setup\0.exe", 10), false},
    };
    for (const Case& c : cases) {
        const std::wstring name = LinkFileName(c.link);
        EXPECT_EQ(Narrow(name), Narrow(c.name)) << Narrow(c.link);
        EXPECT_EQ(IsPlainFileName(name), c.plain) << Narrow(c.link);
    }
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
