#include "system/ShellApi.h"

#include <objbase.h>
#include <shlobj.h>

#include "core/LazyLibrary.h"

namespace memoline::shell {
namespace {

// Both never freed: a launcher's worker may still be inside them while the process ends.
core::TLazyLibrary& Shell32() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"shell32.dll");
    return *library;
}

core::TLazyLibrary& Ole32() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"ole32.dll");
    return *library;
}

}  // namespace

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    static const core::TLazyFunction<decltype(&::ShellExecuteExW)> fn(Shell32(), "ShellExecuteExW");
    return fn.CallOr(FALSE, info);
}

HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, wchar_t* path) {
    static const core::TLazyFunction<decltype(&::SHGetFolderPathW)> fn(Shell32(), "SHGetFolderPathW");
    return fn.CallOr(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), owner, folder, token, flags, path);
}

int SHCreateDirectoryExW(HWND owner, const wchar_t* path, const SECURITY_ATTRIBUTES* attributes) {
    static const core::TLazyFunction<decltype(&::SHCreateDirectoryExW)> fn(Shell32(), "SHCreateDirectoryExW");
    return fn.CallOr(static_cast<int>(ERROR_PROC_NOT_FOUND), owner, path, attributes);
}

TComApartment::TComApartment() {
    static const core::TLazyFunction<decltype(&::CoInitializeEx)> initialize(Ole32(), "CoInitializeEx");
    hr_ = initialize.CallOr(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), nullptr, DWORD{COINIT_APARTMENTTHREADED});
}

TComApartment::~TComApartment() {
    static const core::TLazyFunction<decltype(&::CoUninitialize)> uninitialize(Ole32(), "CoUninitialize");
    // The error of the call made inside the apartment stays for the caller to read.
    const DWORD error = GetLastError();
    if (SUCCEEDED(hr_))
        uninitialize.CallIfFound();
    SetLastError(error);
}

}  // namespace memoline::shell
