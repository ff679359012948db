#include "http/ResponseLines.h"

#include <gtest/gtest.h>

namespace memoline {
namespace {

TEST(SplitResponseText, LineBreaks) {
    using Lines = std::vector<std::wstring>;
    struct Case {
        std::wstring text;
        Lines expected;
    } cases[] = {
        {L"a\r\nb\n\nc\r", {L"a", L"b", L"", L"c"}},
        {L"a\r\r\nb", {L"a", L"", L"b"}},
        {L"a\n", {L"a"}},
        {L"\n", {L""}},
        {L"", {}},
        {std::wstring(L"ab\0cd\nef", 8), {L"ab"}},
        {L"\uFEFFx", {L"\uFEFFx"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitResponseText(c.text), c.expected);
}

}  // namespace
}  // namespace memoline
