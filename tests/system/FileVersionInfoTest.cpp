#include "system/FileVersionInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"
#include "tests/support/VersionResource.h"

namespace memoline {
namespace {

using test::BinDir;

std::wstring Fixture(const wchar_t* name) {
    return BinDir() + L"fixture_" + name + L".exe";
}

TEST(FileVersionInfo, ReadsFileVersionNotProductVersion) {
    TFileVersionInfo info;
    info.SetFilePath(Fixture(L"version_5_9_2_117"));
    EXPECT_TRUE(info.VersionInfoAvailable());
    EXPECT_EQ(info.MajorVersion(), 5);
    EXPECT_EQ(info.MinorVersion(), 9);
    EXPECT_EQ(info.Release(), 2);
    EXPECT_EQ(info.Build(), 117);
    EXPECT_FALSE(info.DebugBuild());
    EXPECT_TRUE(info.PreRelease());
    EXPECT_FALSE(info.PrivateBuild());
    EXPECT_TRUE(info.SpecialBuild());
    EXPECT_EQ(info.CompanyName(), L"Fixture Company");
    EXPECT_EQ(info.FileDescription(), L"Fixture description");
    EXPECT_EQ(info.FileVersion(), L"5.9.2.117");
    EXPECT_EQ(info.InternalName(), L"fixture");
    EXPECT_EQ(info.Copyright(), L"Fixture copyright");
    EXPECT_EQ(info.Trademarks(), L"Fixture trademarks");
    EXPECT_EQ(info.OriginalFilename(), L"fixture.exe");
    EXPECT_EQ(info.ProductName(), L"Fixture product");
    EXPECT_EQ(info.ProductVersion(), L"7.1.3.4");
    // A key missing from the string table is empty, not "Value Not Available".
    EXPECT_EQ(info.Comments(), L"");
}

TEST(FileVersionInfo, MissingFileGivesZerosAndNotAvailableTexts) {
    TFileVersionInfo info;
    info.SetFilePath(L"C:\\no\\such\\folder\\program.exe");
    EXPECT_FALSE(info.VersionInfoAvailable());
    EXPECT_EQ(info.MajorVersion(), 0);
    EXPECT_EQ(info.MinorVersion(), 0);
    EXPECT_EQ(info.Release(), 0);
    EXPECT_EQ(info.Build(), 0);
    EXPECT_EQ(info.CompanyName(), L"Value Not Available");
    EXPECT_EQ(info.Comments(), L"Value Not Available");
}

TEST(FileVersionInfo, ProgramWithoutVersionResource) {
    TFileVersionInfo info;
    info.SetFilePath(BinDir() + L"memoline_stub.exe");
    EXPECT_FALSE(info.VersionInfoAvailable());
    EXPECT_EQ(info.MajorVersion(), 0);
    EXPECT_EQ(info.ProductName(), L"Value Not Available");
}

TEST(FileVersionInfo, NoTranslationTableLeavesTextsEmptyButReadsNumbers) {
    TFileVersionInfo info;
    info.SetFilePath(Fixture(L"version_no_translation"));
    EXPECT_TRUE(info.VersionInfoAvailable());
    EXPECT_EQ(info.CompanyName(), L"");
    EXPECT_EQ(info.MajorVersion(), 1);
    EXPECT_EQ(info.MinorVersion(), 2);
    EXPECT_EQ(info.Release(), 3);
    EXPECT_EQ(info.Build(), 4);
}

TEST(FileVersionInfo, DebugFlagCountsEvenWithZeroMask) {
    TFileVersionInfo info;
    info.SetFilePath(Fixture(L"version_debug_zero_mask"));
    EXPECT_TRUE(info.DebugBuild());
    EXPECT_FALSE(info.PreRelease());
    EXPECT_FALSE(info.PrivateBuild());
    EXPECT_FALSE(info.SpecialBuild());
}

TEST(FileVersionInfo, OnlyTheFirstTranslationIsUsed) {
    TFileVersionInfo info;
    info.SetFilePath(Fixture(L"version_two_translations"));
    EXPECT_EQ(info.CompanyName(), L"Erste Firma");
    EXPECT_TRUE(info.PrivateBuild());
}

TEST(FileVersionInfo, EachReadStartsAfresh) {
    TFileVersionInfo info;
    info.SetFilePath(Fixture(L"version_5_9_2_117"));
    info.SetFilePath(BinDir() + L"memoline_stub.exe");
    EXPECT_EQ(info.MajorVersion(), 0);
    EXPECT_FALSE(info.PreRelease());
    EXPECT_EQ(info.CompanyName(), L"Value Not Available");
}

TEST(FileVersionInfo, SamePathTwiceReadsOnlyOnce) {
    test::ScratchDir dir(L"fvi-once");
    const std::wstring path = dir / L"program.exe";
    test::WriteVersionedProgram(path, L"1.2.3");
    TFileVersionInfo info;
    info.SetFilePath(path);
    ASSERT_EQ(info.MinorVersion(), 2);

    test::WriteVersionedProgram(path, L"4.5.6");
    info.SetFilePath(path);  // unchanged path: the earlier values stay
    EXPECT_EQ(info.MajorVersion(), 1);
    EXPECT_EQ(info.Release(), 3);

    info.SetFilePath(BinDir() + L"memoline_stub.exe");
    info.SetFilePath(path);
    EXPECT_EQ(info.MajorVersion(), 4);
    EXPECT_EQ(info.Release(), 6);
}

TEST(FileVersionInfo, EmptyPathReadsTheRunningProgram) {
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);

    TFileVersionInfo constructed;  // construction reads the running program
    EXPECT_EQ(constructed.FilePath(), own);

    TFileVersionInfo info;
    info.SetFilePath(Fixture(L"version_5_9_2_117"));
    info.SetFilePath(L"");
    EXPECT_EQ(info.FilePath(), own);
    EXPECT_FALSE(info.VersionInfoAvailable());  // test programs carry no version resource
    EXPECT_EQ(info.MajorVersion(), 0);
}

TEST(FileVersionInfo, ReadsResourcesWrittenAtRunTime) {
    test::ScratchDir dir(L"fvi-runtime");
    test::VersionResourceSpec spec;
    spec.fileVersion = {5, 9, 2, 117};
    spec.productVersion = {1, 0, 0, 0};
    spec.fileFlags = VS_FF_PRERELEASE | VS_FF_PRIVATEBUILD | VS_FF_SPECIALBUILD;
    spec.fileFlagsMask = 0;
    spec.strings = {{L"CompanyName", L"Runtime Company"}, {L"ProductName", L"Runtime Product"}};
    test::WriteProgramFile(dir / L"runtime.exe", &spec);

    TFileVersionInfo info;
    info.SetFilePath(dir / L"runtime.exe");
    EXPECT_EQ(info.MajorVersion(), 5);
    EXPECT_EQ(info.Build(), 117);
    EXPECT_FALSE(info.DebugBuild());
    EXPECT_TRUE(info.PreRelease());
    EXPECT_TRUE(info.PrivateBuild());
    EXPECT_TRUE(info.SpecialBuild());
    EXPECT_EQ(info.CompanyName(), L"Runtime Company");
    EXPECT_EQ(info.ProductName(), L"Runtime Product");
    EXPECT_EQ(info.FileVersion(), L"");
}

class CountingDisplay : public IVersionInfoDisplay {
public:
    void VersionInfoChanged(TFileVersionInfo& info) override {
        ++refreshes;
        lastMajor = info.MajorVersion();
    }
    int refreshes = 0;
    int lastMajor = -1;
};

TEST(FileVersionInfo, AttachedDisplaysAreRefreshedAfterEachRead) {
    TFileVersionInfo info;
    CountingDisplay display;
    info.AttachDisplay(&display);
    info.SetFilePath(Fixture(L"version_5_9_2_117"));
    info.SetFilePath(Fixture(L"version_5_9_2_117"));
    EXPECT_EQ(display.refreshes, 1);
    EXPECT_EQ(display.lastMajor, 5);
    info.DetachDisplay(&display);
    info.SetFilePath(L"");
    EXPECT_EQ(display.refreshes, 1);
}

}  // namespace
}  // namespace memoline
