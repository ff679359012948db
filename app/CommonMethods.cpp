#include "app/CommonMethods.h"

#include <windows.h>

#include <memory>

#include "core/Handles.h"
#include "system/FileVersionInfo.h"

namespace memoline {

std::wstring GetTempDirectory() {
    return GetTempDirectory(
        [](unsigned long length, wchar_t* buffer) -> unsigned long { return GetTempPathW(length, buffer); });
}

std::wstring GetTempDirectory(TempPathQuery query) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD n = query(static_cast<DWORD>(path.size()), path.data());
    if (n > path.size()) {
        // The path did not fit: n is the size it needs, its terminating zero included.
        path.assign(n, L'\0');
        n = query(static_cast<DWORD>(path.size()), path.data());
        if (n >= path.size())
            return {};
    }
    path.resize(n);  // n == 0 when the query failed
    return path;
}

std::wstring GetFileVersionString(const std::wstring& path) {
    auto reader = std::make_unique<TFileVersionInfo>();
    reader->SetFilePath(path);
    return std::to_wstring(reader->MajorVersion()) + L"." + std::to_wstring(reader->MinorVersion()) + L"." +
           std::to_wstring(reader->Release());
}

bool FileExists(const std::wstring& path) {
    // Opening without FILE_FLAG_OPEN_REPARSE_POINT follows links to their target; backup semantics
    // let a directory open too, so it can be told apart and refused.
    unique_file file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info))
        return false;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace memoline
