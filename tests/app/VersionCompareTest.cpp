#include "app/VersionCompare.h"

#include <gtest/gtest.h>

namespace memoline {
namespace {

TEST(CompareVersions, Table) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        int expected;
    } cases[] = {
        {L"5.10.0", L"5.9.0", 1},  {L"5.9", L"5.9.0", 0},
        {L"5.9.0.1", L"5.9.0", 1}, {L"", L"5.9.0", -1},
        {L"5..1", L"5.0.1", 0},    {L"abc", L"0", 0},
        {L"-1", L"0", -1},         {L"5.9.0", L"5.9.0", 0},
        {L"5.9.0", L"5.10.0", -1}, {L"", L"", 0},
        {L"", L"0.0", 0},          {L"10", L"9", 1},
        {L"5.$A", L"5.10", 0},     // hexadecimal after "$"
        {L"5.0x10", L"5.16", 0},   // after "0x"
        {L"5.x1F", L"5.31", 0},    // after "x"
        {L"2147483648", L"0", 0},  // out of range counts as 0
        {L"2147483647", L"0", 1},  {L"-2147483648", L"0", -1},
        {L"-2147483649", L"0", 0}, {L"5.9a", L"5.0", 0},  // trailing characters count as 0
        {L" 7", L"6", 1},                                 // leading blanks are allowed
        {L"+3", L"3", 0},          {L"7 ", L"0", 0},      // trailing blanks are not
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareVersions(c.a, c.b), c.expected) << "A=\"" << c.a << "\" B=\"" << c.b << "\"";
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.expected) << "reversed, A=\"" << c.b << "\" B=\"" << c.a << "\"";
    }
}

TEST(VersionPartToInt, Forms) {
    struct Case {
        const wchar_t* text;
        int32_t expected;
    } cases[] = {
        {L"0", 0}, {L"42", 42}, {L"-7", -7}, {L"$ff", 255}, {L"0XfF", 255}, {L"$FFFFFFFF", -1}, {L"$100000000", 0},
        {L"", 0},  {L"-", 0},   {L"$", 0},   {L"0x", 0},    {L"1e3", 0},    {L"00012", 12},     {L"-$10", -16},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VersionPartToInt(c.text), c.expected) << "\"" << c.text << "\"";
}

}  // namespace
}  // namespace memoline
