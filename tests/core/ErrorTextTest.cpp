#include "core/ErrorText.h"

#include <gtest/gtest.h>

namespace memoline {
namespace {

// Codes with the customer bit set: no system has a text for them.
constexpr long kOurCode = 0x20001234;
constexpr long kOtherCode = 0x20001235;
constexpr TErrorText kFallbacks[] = {{kOurCode, L"Our own text."}};

TEST(ErrorText, SystemTextWithoutItsLineBreak) {
    // "The operation completed successfully.\r\n" on Windows, a text of its own under Wine.
    const std::wstring text = ErrorText(0, kFallbacks);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.back(), L'\r');
    EXPECT_NE(text.back(), L' ');
}

TEST(ErrorText, FallbackOnlyWhereTheSystemHasNoText) {
    EXPECT_EQ(ErrorText(kOurCode, kFallbacks), L"Our own text.");
    EXPECT_EQ(ErrorText(kOtherCode, kFallbacks), L"");
    EXPECT_EQ(ErrorText(kOurCode), L"");
}

}  // namespace
}  // namespace memoline
