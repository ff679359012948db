// The shell functions the program uses, from shell32.dll loaded on first use (see core/LazyLibrary.h),
// and the COM apartment the shell wants around ShellExecuteEx, from ole32.dll likewise. Same
// parameters and results as the system's own; when a DLL cannot be loaded each call fails.
#pragma once

#include <windows.h>

#include <shellapi.h>

namespace memoline::shell {

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);
HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, wchar_t* path);
int SHCreateDirectoryExW(HWND owner, const wchar_t* path, const SECURITY_ATTRIBUTES* attributes);

// A single-threaded COM apartment for this thread while the object lives (nested ones are counted):
// the shell may hand ShellExecuteEx to extensions that are COM objects. GetLastError survives its end.
class TComApartment {
public:
    TComApartment();
    ~TComApartment();
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;

private:
    HRESULT hr_;
};

}  // namespace memoline::shell
