#include "tests/support/TestFiles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "app/InstalledProduct.h"
#include "tests/support/VersionResource.h"

namespace memoline::test {

std::wstring BinDir() {
    std::wstring path(MAX_PATH * 4, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(n);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

void CreateDirectories(const std::wstring& dir) {
    for (size_t pos = dir.find(L'\\', 3);; pos = dir.find(L'\\', pos + 1)) {
        CreateDirectoryW(dir.substr(0, pos).c_str(), nullptr);
        if (pos == std::wstring::npos)
            break;
    }
}

void CreateParentDirectories(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash > 2)
        CreateDirectories(path.substr(0, slash));
}

void RemoveTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

std::string ReadFileRaw(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

std::wstring ReadFileBytes(const std::wstring& path, bool* ok) {
    if (ok)
        *ok = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    std::string raw = ReadFileRaw(path);
    return std::wstring(raw.begin(), raw.end());
}

void WriteFileRaw(const std::wstring& path, const std::string& bytes) {
    CreateParentDirectories(path);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "create, error " << GetLastError();
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

ScratchDir::ScratchDir(const std::wstring& name) {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp) + L"memoline-test-" + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    RemoveTree(path_.substr(0, path_.size() - 1));
    CreateDirectories(path_.substr(0, path_.size() - 1));
}

ScratchDir::~ScratchDir() {
    RemoveTree(path_.substr(0, path_.size() - 1));
}

ProductInstallation::ProductInstallation() {
    RemoveTree(L"C:\\Memoline5Server");
    RemoveTree(L"C:\\Memoline5");
}

ProductInstallation::~ProductInstallation() {
    RemoveTree(L"C:\\Memoline5Server");
    RemoveTree(L"C:\\Memoline5");
}

void ProductInstallation::InstallServer(const std::wstring& version) {
    if (version.empty())
        WriteProgramFile(kServerProgramPath, nullptr);
    else
        WriteVersionedProgram(kServerProgramPath, version);
}

void ProductInstallation::InstallClient(const std::wstring& version) {
    if (version.empty())
        WriteProgramFile(kClientProgramPath, nullptr);
    else
        WriteVersionedProgram(kClientProgramPath, version);
}

void ProductInstallation::InstallDataUpdate(const std::wstring& programPath) {
    const std::wstring target = kDataUpdateProgramPath;
    CreateParentDirectories(target);
    ASSERT_TRUE(CopyFileW(programPath.c_str(), target.c_str(), FALSE)) << "error " << GetLastError();
}

}  // namespace memoline::test
