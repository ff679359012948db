// The validator, request lines and Content-Range parsing of a resumed download.
#include <gtest/gtest.h>

#include "download/ResumeText.h"

namespace memoline::download {
namespace {

TEST(ResumeText, ValidatorPrefersAStrongTagThenTheDate) {
    const std::wstring date = L"Wed, 09 Dec 2026 10:00:00 GMT";
    EXPECT_EQ(ResumeValidator(L"\"abc\"", date), L"\"abc\"");
    EXPECT_EQ(ResumeValidator(L" \"abc\" ", L""), L"\"abc\"");
    EXPECT_EQ(ResumeValidator(L"W/\"abc\"", date), date);  // weak tags never go into If-Range
    EXPECT_EQ(ResumeValidator(L"", date), date);
    EXPECT_EQ(ResumeValidator(L"W/\"abc\"", L""), L"");
    EXPECT_EQ(ResumeValidator(L"", L""), L"");
}

TEST(ResumeText, RequestLinesAskForTheRestOfThatVersionOnly) {
    EXPECT_EQ(ResumeRequestLines(5000, L"\"v1\""), L"Range: bytes=5000-\r\nIf-Range: \"v1\"\r\n");
    EXPECT_EQ(ResumeRequestLines(5000, L""), L"");  // no validator: the whole file again
    EXPECT_EQ(ResumeRequestLines(0, L"\"v1\""), L"");
    EXPECT_EQ(ResumeRequestLines(5000000000ULL, L"x"), L"Range: bytes=5000000000-\r\nIf-Range: x\r\n");
}

TEST(ResumeText, ParseContentRange) {
    struct Case {
        const wchar_t* value;
        bool ok;
        uint64_t first, last;
    } cases[] = {
        {L"bytes 500-999/1000", true, 500, 999},
        {L"BYTES 0-0/1", true, 0, 0},
        {L"bytes 500-999/*", true, 500, 999},
        {L" bytes  7-8/9 ", true, 7, 8},
        {L"bytes 500-999/999", false, 0, 0},  // last beyond the length
        {L"bytes 600-500/1000", false, 0, 0},
        {L"bytes */1000", false, 0, 0},  // an unsatisfied range names none
        {L"items 1-2/3", false, 0, 0},
        {L"bytes 1-2", false, 0, 0},
        {L"bytes1-2/3", false, 0, 0},
        {L"bytes 1-2/3x", false, 0, 0},
        {L"bytes 99999999999999999999-1/2", false, 0, 0},
        {L"", false, 0, 0},
    };
    for (const auto& c : cases) {
        uint64_t first = 0, last = 0;
        EXPECT_EQ(ParseContentRange(c.value, first, last), c.ok) << c.value;
        if (c.ok) {
            EXPECT_EQ(first, c.first) << c.value;
            EXPECT_EQ(last, c.last) << c.value;
        }
    }
}

}  // namespace
}  // namespace memoline::download
