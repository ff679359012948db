#include "system/FileVersionInfo.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "core/LazyLibrary.h"

namespace memoline {
namespace {

// version.dll is no KnownDLL: imported, the loader would look for it beside the exe first.
// Never freed: the reader may run until the process ends.
core::TLazyLibrary& VersionLibrary() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"version.dll");
    return *library;
}

DWORD FileVersionInfoSize(const wchar_t* path, DWORD* handle) {
    static const core::TLazyFunction<decltype(&::GetFileVersionInfoSizeW)> fn(VersionLibrary(),
                                                                              "GetFileVersionInfoSizeW");
    return fn.CallOr(DWORD{0}, path, handle);
}

BOOL FileVersionInfo(const wchar_t* path, DWORD handle, DWORD size, void* data) {
    static const core::TLazyFunction<decltype(&::GetFileVersionInfoW)> fn(VersionLibrary(), "GetFileVersionInfoW");
    return fn.CallOr(FALSE, path, handle, size, data);
}

BOOL QueryVersionValue(const void* block, const wchar_t* subBlock, void** value, UINT* length) {
    static const core::TLazyFunction<decltype(&::VerQueryValueW)> fn(VersionLibrary(), "VerQueryValueW");
    return fn.CallOr(FALSE, block, subBlock, value, length);
}

constexpr const wchar_t* kStringKeys[10] = {
    L"CompanyName",     L"FileDescription",  L"FileVersion", L"InternalName",   L"LegalCopyright",
    L"LegalTrademarks", L"OriginalFilename", L"ProductName", L"ProductVersion", L"Comments",
};

std::wstring OwnModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);  // truncated: the path is longer than the buffer
    }
}

// "%.4x" in upper case: exactly four hexadecimal digits.
std::wstring Hex4(unsigned value) {
    wchar_t buf[8];
    swprintf(buf, 8, L"%.4X", value & 0xFFFFu);
    return buf;
}

}  // namespace

TFileVersionInfo::TFileVersionInfo(TComponent* owner) : TComponent(owner) {
    ReadVersionInfo();
}

void TFileVersionInfo::SetFilePath(const std::wstring& path) {
    if (path == FFilePath)
        return;
    FFilePath = path;
    if (Loading())
        return;
    ReadVersionInfo();
    RefreshDisplays();
}

void TFileVersionInfo::Loaded() {
    ReadVersionInfo();
    RefreshDisplays();
}

void TFileVersionInfo::AttachDisplay(IVersionInfoDisplay* display) {
    FStatusList.push_back(display);
}

void TFileVersionInfo::DetachDisplay(IVersionInfoDisplay* display) {
    FStatusList.erase(std::remove(FStatusList.begin(), FStatusList.end(), display), FStatusList.end());
}

void TFileVersionInfo::RefreshDisplays() {
    for (auto* display : FStatusList)
        display->VersionInfoChanged(*this);
}

void TFileVersionInfo::ReadVersionInfo() {
    if (FFilePath.empty())
        FFilePath = OwnModulePath();

    std::array<uint16_t, 4> numbers{};
    std::array<bool, 4> flags{};
    std::vector<std::wstring> texts(10);

    DWORD ignored = 0;
    DWORD size = FileVersionInfoSize(FFilePath.c_str(), &ignored);
    FVersionInfoAvailable = size > 0;
    if (size == 0) {
        std::fill(texts.begin(), texts.end(), kValueNotAvailable);
    } else {
        std::vector<BYTE> block(size, 0);
        FileVersionInfo(FFilePath.c_str(), 0, size, block.data());

        std::wstring language, codePage;
        void* value = nullptr;
        UINT length = 0;
        if (QueryVersionValue(block.data(), L"\\VarFileInfo\\Translation", &value, &length) && value &&
            length >= sizeof(DWORD)) {
            DWORD first = *static_cast<const DWORD*>(value);  // only the first entry counts
            language = Hex4(LOWORD(first));
            codePage = Hex4(HIWORD(first));
        }
        const std::wstring prefix = L"StringFileInfo\\" + language + codePage + L"\\";
        for (size_t i = 0; i < texts.size(); ++i) {
            const std::wstring key = prefix + kStringKeys[i];
            value = nullptr;
            length = 0;
            if (QueryVersionValue(block.data(), key.c_str(), &value, &length) && value)
                texts[i] = static_cast<const wchar_t*>(value);
        }
        value = nullptr;
        if (QueryVersionValue(block.data(), L"\\", &value, &length) && value) {
            const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
            numbers = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                       LOWORD(fixed->dwFileVersionLS)};
            // The flags as they stand: dwFileFlagsMask is deliberately not applied.
            flags = {(fixed->dwFileFlags & VS_FF_DEBUG) != 0, (fixed->dwFileFlags & VS_FF_PRERELEASE) != 0,
                     (fixed->dwFileFlags & VS_FF_PRIVATEBUILD) != 0, (fixed->dwFileFlags & VS_FF_SPECIALBUILD) != 0};
        }
    }
    FVersionInfo = std::move(texts);
    FVersionNumbers = numbers;
    FModuleAttributes = flags;
}

}  // namespace memoline
