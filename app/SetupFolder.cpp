// rand_s is declared only when asked for before the C library headers.
#define _CRT_RAND_S

#include "app/SetupFolder.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "core/Handles.h"

namespace memoline {

namespace {

// 128 bits from the system's random generator (rand_s draws on RtlGenRandom), as 32 hex digits.
bool RandomName(std::wstring& name) {
    wchar_t digits[9];
    name = L"MemolineSetup-";
    for (int i = 0; i < 4; ++i) {
        unsigned int value = 0;
        if (rand_s(&value) != 0)
            return false;
        swprintf(digits, 9, L"%08x", value);
        name += digits;
    }
    return true;
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW data{};
    unique_find find(FindFirstFileW((dir + L"*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = dir + name;
            // A link to a folder is removed as the link, never followed.
            const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
            if (folder) {
                RemoveTree(path + L"\\");
                continue;
            }
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveDirectoryW(path.c_str());
                continue;
            }
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        } while (FindNextFileW(find.get(), &data));
    }
    find.reset();
    RemoveDirectoryW(dir.substr(0, dir.size() - 1).c_str());
}

}  // namespace

TSetupFolder::TSetupFolder(const std::wstring& parent) {
    if (parent.empty()) {
        FError = ERROR_PATH_NOT_FOUND;
        return;
    }
    // A name that exists already is never taken over: it could be someone else's folder.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::wstring name;
        if (!RandomName(name)) {
            FError = ERROR_GEN_FAILURE;
            return;
        }
        const std::wstring path = parent + name;
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            FPath = path + L"\\";
            FError = 0;
            return;
        }
        FError = GetLastError();
        if (FError != ERROR_ALREADY_EXISTS)
            return;
    }
}

TSetupFolder::~TSetupFolder() {
    Remove();
}

std::vector<std::wstring> TSetupFolder::OtherEntries(const std::wstring& name) const {
    std::vector<std::wstring> others;
    if (FPath.empty())
        return others;
    WIN32_FIND_DATAW data{};
    unique_find find(FindFirstFileW((FPath + L"*").c_str(), &data));
    if (!find)
        return others;
    do {
        const std::wstring entry = data.cFileName;
        if (entry == L"." || entry == L"..")
            continue;
        const bool file = (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        if (!file || CompareStringOrdinal(entry.c_str(), -1, name.c_str(), -1, TRUE) != CSTR_EQUAL)
            others.push_back(entry);
    } while (FindNextFileW(find.get(), &data));
    return others;
}

bool TSetupFolder::Remove() {
    if (FPath.empty())
        return true;
    RemoveTree(FPath);
    if (GetFileAttributesW(FPath.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    FPath.clear();
    return true;
}

}  // namespace memoline
