#include "app/UpdateLineParser.h"

#include <gtest/gtest.h>

namespace memoline {
namespace {

using Fields = std::vector<std::wstring>;

TEST(SplitUpdateLine, Table) {
    struct Case {
        std::wstring line;
        Fields expected;
    } cases[] = {
        {L"N;5.9.1;D;L;E", {L"N", L"5.9.1", L"D", L"L", L"E"}},
        {L"N;5.9.1;D;L;E;", {L"N", L"5.9.1", L"D", L"L", L"E", L""}},
        {L"N;5.9.1;D;L;E; ", {L"N", L"5.9.1", L"D", L"L", L"E"}},
        {L"N; 5.9.1 ;D;L;E", {L"N", L"5.9.1", L"D", L"L", L"E"}},
        {L"N;;D;L;E", {L"N", L"", L"D", L"L", L"E"}},
        {L"N X;5.9.1;D;L;E", {L"N", L"X", L"5.9.1", L"D", L"L", L"E"}},
        {L"\"Server \"\"Spring\"\" 2026\";5.9.1;D;L;E", {L"Server \"Spring\" 2026", L"5.9.1", L"D", L"L", L"E"}},
        {L"\"a\"b;c", {L"a", L"b", L"c"}},
        {L"\"open to the end;x", {L"open to the end;x"}},
        {L"\t\x01 a\x1f;\x7f", {L"a", L"\x7f"}},
        {L"", {}},
        {L"   \t ", {}},
        {L";", {L"", L""}},
        {L"a;;", {L"a", L"", L""}},
        {L"\"\";\"\"\"\"", {L"", L"\""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitUpdateLine(c.line), c.expected) << "line: " << std::string(c.line.begin(), c.line.end());
}

TEST(ParseUpdateLine, FiveFieldsAndAHigherVersion) {
    struct Case {
        const wchar_t* line;
        bool listed;
    } cases[] = {
        {L"N;5.9.1;D;L;E", true},   {L"N;5.9.1;D;L;E;", false}, {L"N;5.9.1;D;L;E; ", true},
        {L"N; 5.9.1 ;D;L;E", true}, {L"N;;D;L;E", false},       {L"N X;5.9.1;D;L;E", false},
        {L"N;5.9.0;D;L;E", false},  {L"N;5.10;D;L;E", true},    {L"ERROR: Connection refused.", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseUpdateLine(c.line, L"5.9.0").has_value(), c.listed) << c.line;

    const auto entry =
        ParseUpdateLine(L"\"Server 5.10 \"\"Spring\"\"\";5.10.0.3;2026-04-01;https://h/s.exe;x", L"5.9.0");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Version, L"Server 5.10 \"Spring\"");
    EXPECT_EQ(entry->Build, L"5.10.0.3");
    EXPECT_EQ(entry->ReleaseDate, L"2026-04-01");
    EXPECT_EQ(entry->Link, L"https://h/s.exe");
}

}  // namespace
}  // namespace memoline
