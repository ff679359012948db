#include "app/InstalledProduct.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "app/CommonMethods.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VersionResource.h"

namespace memoline {
namespace {

TEST(InstalledProduct, ServerAndClientUsesServerVersion) {
    test::ProductInstallation product;
    product.InstallServer(L"5.9.0");
    product.InstallClient(L"5.7.3");
    EXPECT_TRUE(IsServerInstalled());
    EXPECT_TRUE(IsClientInstalled());
    EXPECT_TRUE(IsInstalled());
    EXPECT_EQ(GetInstalledVersion(), L"5.9.0");
}

TEST(InstalledProduct, ClientOnly) {
    test::ProductInstallation product;
    product.InstallClient(L"5.7.3");
    EXPECT_FALSE(IsServerInstalled());
    EXPECT_TRUE(IsInstalled());
    EXPECT_EQ(GetInstalledVersion(), L"5.7.3");
}

TEST(InstalledProduct, Neither) {
    test::ProductInstallation product;
    EXPECT_FALSE(IsServerInstalled());
    EXPECT_FALSE(IsClientInstalled());
    EXPECT_FALSE(IsInstalled());
    EXPECT_EQ(GetInstalledVersion(), L"");
}

TEST(InstalledProduct, ServerWithoutVersionResource) {
    test::ProductInstallation product;
    product.InstallServer(L"");
    EXPECT_TRUE(IsServerInstalled());
    EXPECT_EQ(GetInstalledVersion(), L"0.0.0");
}

TEST(InstalledProduct, DirectoryAtServerPathDoesNotCount) {
    test::ProductInstallation product;
    test::CreateDirectories(kServerProgramPath);
    EXPECT_FALSE(IsServerInstalled());
    EXPECT_FALSE(IsInstalled());
    EXPECT_EQ(GetInstalledVersion(), L"");
}

TEST(InstalledProduct, VersionIsReadAnewEachCall) {
    test::ProductInstallation product;
    product.InstallServer(L"5.9.0");
    EXPECT_EQ(GetInstalledVersion(), L"5.9.0");
    product.InstallServer(L"5.10.2");
    EXPECT_EQ(GetInstalledVersion(), L"5.10.2");
}

TEST(CommonMethods, FileVersionStringUsesThreeParts) {
    test::ScratchDir dir(L"fvs");
    test::WriteVersionedProgram(dir / L"p.exe", L"65535.0.12.9");
    EXPECT_EQ(GetFileVersionString(dir / L"p.exe"), L"65535.0.12");
    EXPECT_EQ(GetFileVersionString(dir / L"missing.exe"), L"0.0.0");
}

// Sets TMP and TEMP for the lifetime of the object.
class ScopedTempVariable {
public:
    explicit ScopedTempVariable(const std::wstring& value) {
        Save(L"TMP", tmp_);
        Save(L"TEMP", temp_);
        SetEnvironmentVariableW(L"TMP", value.c_str());
        SetEnvironmentVariableW(L"TEMP", value.c_str());
    }
    ~ScopedTempVariable() {
        SetEnvironmentVariableW(L"TMP", tmp_.c_str());
        SetEnvironmentVariableW(L"TEMP", temp_.c_str());
    }

private:
    static void Save(const wchar_t* name, std::wstring& out) {
        wchar_t buffer[4096];
        DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
        out.assign(buffer, n < 4096 ? n : 0);
    }
    std::wstring tmp_, temp_;
};

TEST(CommonMethods, TempDirectoryEndsWithBackslash) {
    std::wstring temp = GetTempDirectory();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_NE(GetFileAttributesW(temp.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(CommonMethods, TempDirectoryLongerThan260CharactersComesBackWhole) {
    test::ScratchDir base(L"longtemp");
    std::wstring longPath = base.Path().substr(0, base.Path().size() - 1);
    while (longPath.size() < 300)
        longPath += L"\\abcdefghijklmnopqrstuvwxyz0123456789";
    ScopedTempVariable scoped(longPath);
    wchar_t probe[MAX_PATH];
    if (GetTempPathW(MAX_PATH, probe) == 0)
        GTEST_SKIP() << "this system's GetTempPathW refuses a TMP longer than MAX_PATH (Wine does)";
    std::wstring temp = GetTempDirectory();
    EXPECT_EQ(temp, longPath + L"\\");
    EXPECT_GT(temp.size(), 260u);
}

// Stands in for a system whose temporary path is 300 characters long.
const std::wstring kLongTemp = L"C:\\" + std::wstring(296, L'x') + L"\\";
int g_queries = 0;
unsigned long LongTempQuery(unsigned long length, wchar_t* buffer) {
    ++g_queries;
    if (length <= kLongTemp.size())
        return static_cast<unsigned long>(kLongTemp.size() + 1);  // the size it needs, with the zero
    kLongTemp.copy(buffer, kLongTemp.size());
    buffer[kLongTemp.size()] = 0;
    return static_cast<unsigned long>(kLongTemp.size());
}
unsigned long FailingQuery(unsigned long, wchar_t*) {
    return 0;
}

TEST(CommonMethods, TempDirectoryGrowsItsBufferForALongPath) {
    g_queries = 0;
    EXPECT_EQ(GetTempDirectory(LongTempQuery), kLongTemp);
    EXPECT_EQ(g_queries, 2);
    EXPECT_EQ(GetTempDirectory(FailingQuery), L"");
}

}  // namespace
}  // namespace memoline
