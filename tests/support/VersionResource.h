// Builds version resources in memory and writes them into program files, so tests can make a
// product program "carrying version 5.9.0" at any path.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace memoline::test {

struct VersionResourceSpec {
    std::array<uint16_t, 4> fileVersion{0, 0, 0, 0};
    std::array<uint16_t, 4> productVersion{0, 0, 0, 0};
    DWORD fileFlags = 0;
    DWORD fileFlagsMask = VS_FFI_FILEFLAGSMASK;
    // Entries of \VarFileInfo\Translation (language in the low word); none leaves the table out.
    std::vector<DWORD> translations{0x04B00409};
    // The name of the string table ("040904B0") and its key/value pairs.
    std::wstring stringTable = L"040904B0";
    std::vector<std::pair<std::wstring, std::wstring>> strings{{L"CompanyName", L"Memoline Test"}};
};

// The bytes of a VS_VERSIONINFO resource.
std::vector<BYTE> BuildVersionResource(const VersionResourceSpec& spec);

// Copies the stub program (a small exe without version resource) to `path`, creating the folders,
// and, unless `spec` is null, writes the version resource into it. Fails the test on error.
void WriteProgramFile(const std::wstring& path, const VersionResourceSpec* spec);

// A program file at `path` whose file version is "a.b.c" (build 0).
void WriteVersionedProgram(const std::wstring& path, const std::wstring& dottedVersion);

// The parsed form of "a.b.c[.d]".
std::array<uint16_t, 4> ParseDottedVersion(const std::wstring& text);

}  // namespace memoline::test
