// The support log: its lines, its place, masking of secrets, rotation at 1 MB, and a file that cannot
// be written.
#include "app/SupportLog.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/TestFiles.h"

namespace memoline {
namespace {

TEST(SupportLog, LinesCarryDateAndTimeAndStayOneLineEach) {
    test::ScratchDir dir(L"support-log");
    // The folder is made on the first line.
    TSupportLog log(dir / L"Memoline\\ServerUpdates.log");
    log.AddSecret(L"Secret4Catalogue");
    log.Write(L"first");
    log.Write(L"posted Secret4Catalogue twice: Secret4Catalogue\r\nsecond line\n");
    const std::string text = test::ReadFileRaw(dir / L"Memoline\\ServerUpdates.log");
    const std::regex expected(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  first\r\n"
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  posted \\*{8} twice: \\*{8}  second line \r\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST(SupportLog, AFullLogBecomesTheOldOneAndOnlyOneOldIsKept) {
    test::ScratchDir dir(L"support-log");
    const std::wstring path = dir / L"ServerUpdates.log";
    const std::wstring old = dir / L"ServerUpdates.old.log";
    EXPECT_EQ(TSupportLog::OldLogPath(path), old);
    TSupportLog log(path);
    // Just under the limit: the line is appended.
    test::WriteFileRaw(path, std::string(TSupportLog::kRotateBytes - 1, 'a'));
    log.Write(L"appended");
    EXPECT_GT(test::ReadFileRaw(path).size(), TSupportLog::kRotateBytes);
    EXPECT_TRUE(test::ReadFileRaw(old).empty());
    // At or over the limit: the file is renamed first, replacing an older old file.
    test::WriteFileRaw(old, "the previous old file");
    const std::string full = test::ReadFileRaw(path);
    log.Write(L"fresh");
    EXPECT_EQ(test::ReadFileRaw(old), full);
    const std::string fresh = test::ReadFileRaw(path);
    EXPECT_EQ(fresh.size(), 21u + 5u + 2u) << fresh;
    EXPECT_EQ(fresh.substr(21), "fresh\r\n");
}

TEST(SupportLog, AFileThatCannotBeWrittenIsSkipped) {
    test::ScratchDir dir(L"support-log");
    // A folder stands where the file should be.
    test::CreateDirectories(dir / L"ServerUpdates.log");
    TSupportLog(dir / L"ServerUpdates.log").Write(L"lost");
    TSupportLog(L"").Write(L"lost");
    // The old file's name is taken by a folder: no rotation, and no exception either.
    test::CreateDirectories(dir / L"b.old.log");
    test::WriteFileRaw(dir / L"b.log", std::string(TSupportLog::kRotateBytes, 'b'));
    TSupportLog(dir / L"b.log").Write(L"kept");
    EXPECT_EQ(test::ReadFileRaw(dir / L"b.log").size(), TSupportLog::kRotateBytes + 21 + 4 + 2);
}

TEST(SupportLog, LivesInTheMemolineFolderOfTheLocalApplicationData) {
    wchar_t folder[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    EXPECT_EQ(TSupportLog::DefaultLogPath(), std::wstring(folder) + L"\\Memoline\\ServerUpdates.log");
    EXPECT_EQ(TSupportLog().Path(), TSupportLog::DefaultLogPath());
}

TEST(SupportLog, AddressesLoseTheirCredentials) {
    const struct {
        const wchar_t* url;
        const wchar_t* logged;
    } cases[] = {
        {L"https://h.example/a/b.php", L"https://h.example/a/b.php"},
        {L"https://user:pw@h.example:8443/a", L"https://h.example:8443/a"},
        {L"http://h/a?password=x", L"http://h/a"},
        {L"http://h/a@b/c", L"http://h/a@b/c"},  // an @ in the path is no user information
        {L"http://u@h", L"http://h"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AddressForLog(c.url), c.logged);
}

}  // namespace
}  // namespace memoline
