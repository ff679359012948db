#include "app/SupportLog.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>

#include "core/Handles.h"
#include "core/TextUtil.h"
#include "system/ShellApi.h"

namespace memoline {
namespace {

std::wstring LocalTimeStamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

bool FileAtLeast(const std::wstring& path, unsigned long long bytes) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return size >= bytes;
}

}  // namespace

TSupportLog::TSupportLog() : FPathKnown(false) {}

TSupportLog::TSupportLog(std::wstring path) : FPath(std::move(path)), FPathKnown(true) {}

const std::wstring& TSupportLog::Path() const {
    if (!FPathKnown) {
        FPath = DefaultLogPath();
        FPathKnown = true;
    }
    return FPath;
}

std::wstring TSupportLog::DefaultLogPath() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(shell::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) ||
        !folder[0])
        return L"";
    return std::wstring(folder) + L"\\Memoline\\ServerUpdates.log";
}

std::wstring TSupportLog::OldLogPath(const std::wstring& path) {
    const std::wstring ext = L".log";
    if (path.size() >= ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0)
        return path.substr(0, path.size() - ext.size()) + L".old.log";
    return path + L".old";
}

void TSupportLog::AddSecret(std::wstring secret) {
    if (!secret.empty())
        FSecrets.push_back(std::move(secret));
}

std::wstring TSupportLog::Clean(const std::wstring& text) const {
    std::wstring line = text;
    for (const std::wstring& secret : FSecrets) {
        for (size_t at = line.find(secret); at != std::wstring::npos; at = line.find(secret, at))
            line.replace(at, secret.size(), L"********");
    }
    for (wchar_t& c : line) {
        if (c == L'\r' || c == L'\n')
            c = L' ';
    }
    return line;
}

void TSupportLog::Write(const std::wstring& text) const {
    if (Path().empty())
        return;
    const size_t slash = FPath.find_last_of(L'\\');
    if (slash != std::wstring::npos) {
        // The folder is made with its parents only when it is missing: the shell library that makes
        // it is loaded on first use, which start-up need not pay for on every run.
        const std::wstring folder = FPath.substr(0, slash);
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            shell::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);  // fails harmlessly on a file
    }
    // One old file is kept: a full log becomes it, replacing the previous one.
    if (FileAtLeast(FPath, kRotateBytes))
        MoveFileExW(FPath.c_str(), OldLogPath(FPath).c_str(), MOVEFILE_REPLACE_EXISTING);
    // FILE_APPEND_DATA only: every write lands at the end, also when another updater appends too.
    unique_file file(CreateFileW(FPath.c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    const std::string bytes = ToUtf8(LocalTimeStamp() + L"  " + Clean(text) + L"\r\n");
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring AddressForLog(const std::wstring& url) {
    std::wstring out = url;
    const size_t query = out.find_first_of(L"?#");
    if (query != std::wstring::npos)
        out.erase(query);
    const size_t scheme = out.find(L"://");
    const size_t hostStart = scheme == std::wstring::npos ? 0 : scheme + 3;
    const size_t pathStart = out.find(L'/', hostStart);
    const size_t at = out.rfind(L'@', pathStart == std::wstring::npos ? std::wstring::npos : pathStart);
    if (at != std::wstring::npos && at >= hostStart)
        out.erase(hostStart, at + 1 - hostStart);
    return out;
}

}  // namespace memoline
