// The dialog's text formatting and the engine's URL and file name helpers.
#include <gtest/gtest.h>

#include "download/DownloadText.h"

namespace memoline::download {
namespace {

TEST(DownloadText, FormatSizeAndRate) {
    struct Case {
        uint64_t n;
        wchar_t separator;
        const wchar_t* size;
        const wchar_t* rate;
    } cases[] = {
        {0, L'.', L"0 bytes", L"0 bytes/sec"},
        {512, L'.', L"512 bytes", L"512 bytes/sec"},
        {999, L'.', L"999 bytes", L"999 bytes/sec"},
        {1000, L'.', L"1.00 Kb", L"1.00 Kb/sec"},
        {1000, L',', L"1,00 Kb", L"1,00 Kb/sec"},
        {1005, L'.', L"1.00 Kb", L"1.00 Kb/sec"},  // 1.005 is a little below in binary
        {1234, L',', L"1,23 Kb", L"1,23 Kb/sec"},
        {999999, L'.', L"1000.00 Kb", L"1000.00 Kb/sec"},
        {1000000, L'.', L"1.00 Mb", L"1.00 Mb/sec"},
        {1000000, L',', L"1,00 Mb", L"1,00 Mb/sec"},
        {268435456, L'.', L"268.44 Mb", L"268.44 Mb/sec"},
        {5000000000ULL, L'.', L"5000.00 Mb", L"5000.00 Mb/sec"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSize(c.n, c.separator), c.size) << c.n;
        EXPECT_EQ(FormatRate(c.n, c.separator), c.rate) << c.n;
    }
}

TEST(DownloadText, FormatTime) {
    struct Case {
        int64_t elapsedMs;
        uint32_t total;
        uint64_t received;
        const wchar_t* text;
    } cases[] = {
        {0, 0, 0, L"0 sec."},
        {499, 0, 0, L"0 sec."},
        {500, 0, 0, L"0 sec."},   // 0.5 rounds to even
        {1500, 0, 0, L"2 sec."},  // 1.5 rounds to even
        {2500, 0, 0, L"2 sec."},
        {12000, 0, 0, L"12 sec."},
        {30000, 0, 0, L"30 sec."},  // 30/60 = 0.5 rounds to 0 minutes
        {31000, 0, 0, L"1 minutes."},
        {90000, 0, 0, L"2 minutes."},   // 1.5 rounds to 2
        {150000, 0, 0, L"2 minutes."},  // 2.5 rounds to 2
        {31 * 60000, 0, 0, L"0h 31"},
        {61 * 60000, 0, 0, L"1h 1"},
        {65 * 60000, 0, 0, L"1h 5"},
        {10000, 4000, 1000, L"30 sec."},  // time left: 3000 / 1000 x 10 s
        {10000, 4000, 4000, L"10 sec."},  // finished: the elapsed time
        {10000, 4000, 5000, L"10 sec."},  // more than announced: the elapsed time
        {10000, 0, 1000, L"10 sec."},     // no total: the elapsed time
        {60000, 1000, 100, L"9 minutes."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatTime(c.elapsedMs, c.total, c.received, L"sec", L"minutes"), c.text) << c.elapsedMs;
    EXPECT_EQ(FormatTime(3000, 0, 0, L"s", L"min"), L"3 s.");
    EXPECT_EQ(FormatTime(120000, 0, 0, L"s", L"min"), L"2 min.");
}

TEST(DownloadText, DecodeURLName) {
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"My%20Setup.exe", L"My Setup.exe"},
        {L"a%2fb.exe", L"ab.exe"},  // lower-case digits: the escape vanishes whole
        {L"a%2Fb.exe", L"a/b.exe"},
        {L"setup%x", L"setupx"},  // a "%" with one character after it goes, the character stays
        {L"setup%", L"setup"},
        {L"%", L""},
        {L"%%41", L"1"},  // "%%4" is an invalid pair, then "1" is copied
        {L"a+b%2B.exe", L"a+b+.exe"},
        {L"%41%42%43", L"ABC"},
        {L"%FF", L"\xFF"},
        {L"plain", L"plain"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeURLName(c.in), c.out) << c.in;
}

TEST(DownloadText, UrlAndPathPieces) {
    EXPECT_EQ(ExtractURLFileName(L"http://h/files/Setup.exe"), L"Setup.exe");
    EXPECT_EQ(ExtractURLFileName(L"http://h/files/Setup.exe?v=1"), L"Setup.exe?v=1");
    EXPECT_EQ(ExtractURLFileName(L"http://h/a\\b/c\\Setup.exe"), L"Setup.exe");
    EXPECT_EQ(ExtractURLFileName(L"http://h/files/"), L"");
    EXPECT_EQ(ExtractURLFileName(L"Setup.exe"), L"Setup.exe");

    EXPECT_EQ(ExtractURLHost(L"http://example.test:8080/a/b"), L"example.test:8080");
    EXPECT_EQ(ExtractURLHost(L"https://h"), L"h");
    EXPECT_EQ(ExtractURLHost(L"h/x"), L"h");

    EXPECT_EQ(JoinPath(L"C:\\Temp", L"a.exe"), L"C:\\Temp\\a.exe");
    EXPECT_EQ(JoinPath(L"C:\\Temp\\", L"a.exe"), L"C:\\Temp\\a.exe");
    EXPECT_EQ(JoinPath(L"", L"a.exe"), L"a.exe");

    EXPECT_EQ(InsertProxyCredentials(L"HtTp://h/x", L"u", L"p"), L"http://u:p@h/x");
    EXPECT_EQ(InsertProxyCredentials(L"https://h/x", L"u", L"p"), L"https://h/x");
    EXPECT_EQ(InsertProxyCredentials(L"http://h/x", L"u", L""), L"http://h/x");

    EXPECT_EQ(NumberedFilename(L"C:\\t\\setup.exe", 1), L"C:\\t\\setup(1).exe");
    EXPECT_EQ(NumberedFilename(L"C:\\t.d\\setup", 2), L"C:\\t.d\\setup(2)");
}

TEST(DownloadText, EncodeBase64) {
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"", L""},         {L"f", L"Zg=="}, {L"fo", L"Zm8="}, {L"foo", L"Zm9v"}, {L"user:pass", L"dXNlcjpwYXNz"},
        {L"\xE9", L"6Q=="},  // the low 8 bits of the character
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeBase64(c.in), c.out) << c.in;
}

TEST(DownloadText, SafeTargetFilename) {
    struct Case {
        const wchar_t* name;
        bool safe;
    } cases[] = {
        {L"Setup.exe", true},
        {L"My Setup.exe", true},
        {L"setup%20v5.exe", true},
        {L"..a", true},
        {L"", false},
        {L"   ", false},
        {L".", false},
        {L"..", false},
        {L" .. ", false},
        {L"..\\evil.exe", false},
        {L"a/b", false},
        {L"C:evil", false},
        {L"a\x01"
         L"b",
         false},
        {L"a\tb", false},
        // Device names open the device, not a file: with an extension, in any case, with blanks or dots.
        {L"NUL", false},
        {L"nul.exe", false},
        {L"CON", false},
        {L"Com1", false},
        {L"lpt9.txt", false},
        {L"aux ", false},
        {L"PRN...", false},
        {L"nul .exe", false},
        {L"CONOUT$", false},
        {L"com\u00B2.exe", false},
        {L"COM0", false},
        {L"nullsetup.exe", true},
        {L"CON1.exe", true},
        {L"COM10", true},
        {L"LPT", true},
        {L"my.nul", true},
        {L"xcon", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSafeTargetFilename(c.name), c.safe) << "[" << testing::PrintToString(std::wstring(c.name)) << "]";
}

}  // namespace
}  // namespace memoline::download
