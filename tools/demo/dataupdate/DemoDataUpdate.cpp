// A stand-in for the server's data-update program: records that it ran, with its command line and
// the server program version it found, which shows whether the setup program had run before it.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tools/demo/setup/DemoEvents.h"

namespace {

std::wstring ServerVersion() {
    const wchar_t* path = L"C:\\Memoline5Server\\Memoline5Server.exe";
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return L"none";
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (!GetFileVersionInfoW(path, 0, size, data.data()))
        return L"none";
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info)
        return L"none";
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(info->dwFileVersionLS));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    // A real data update takes a while: tests and the demo ask for that through the environment,
    // which the updater passes on to the programs it starts.
    wchar_t sleep[16] = {};
    if (GetEnvironmentVariableW(L"MEMOLINE_DEMO_DATAUPDATE_SLEEP_MS", sleep, 16) > 0)
        Sleep(static_cast<DWORD>(_wtoi(sleep)));
    memoline::demo::RecordEvent(L"dataupdate server-version=" + ServerVersion() + L" args=" + commandLine);
    return 0;
}
