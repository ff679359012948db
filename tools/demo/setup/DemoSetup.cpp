// A stand-in for the product's setup program. Run with "/silent" it puts a server program carrying
// its own version in place (it copies itself to the server program's path: it carries the version
// resource of the update it stands for) and records its command line.
//
// Its file name steers it, so a catalogue link alone chooses the behaviour and the updater needs no
// second code path: a "-exitN" part makes it end with exit code N, a "-sleepN" part makes it take N
// milliseconds. "Setup-exit3010.exe" installs and asks for a restart, for example.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "tools/demo/setup/DemoEvents.h"

#ifndef DEMO_VERSION
#error "DEMO_VERSION must name the version this setup program installs"
#endif

namespace {

const wchar_t* kServerDir = L"C:\\Memoline5Server";
const wchar_t* kServerProgram = L"C:\\Memoline5Server\\Memoline5Server.exe";

std::wstring OwnPath() {
    std::wstring path(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(n);
    return path;
}

std::wstring BaseName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

// The number after "-<key>" in the name, or `fallback` when the name has no such part.
unsigned long NamedNumber(const std::wstring& name, const std::wstring& key, unsigned long fallback) {
    std::wstring lower = name;
    for (auto& c : lower)
        c = static_cast<wchar_t>(towlower(c));
    size_t at = lower.find(L"-" + key);
    if (at == std::wstring::npos)
        return fallback;
    const wchar_t* digits = lower.c_str() + at + 1 + key.size();
    if (!iswdigit(*digits))
        return fallback;
    return wcstoul(digits, nullptr, 10);
}

// The parameters after the program's own name on the command line.
std::wstring Arguments() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring args;
    for (int i = 1; argv && i < argc; ++i) {
        if (!args.empty())
            args += L' ';
        args += argv[i];
    }
    LocalFree(argv);
    return args;
}

bool HasSilentSwitch() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool silent = false;
    for (int i = 1; argv && i < argc; ++i)
        silent = silent || _wcsicmp(argv[i], L"/silent") == 0;
    LocalFree(argv);
    return silent;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using memoline::demo::RecordEvent;
    const std::wstring self = OwnPath();
    const std::wstring name = BaseName(self);
    const unsigned long exitCode = NamedNumber(name, L"exit", 0);
    const unsigned long sleepMs = NamedNumber(name, L"sleep", 0);
    const std::wstring args = Arguments();

    RecordEvent(L"setup-start version=" DEMO_VERSION L" args=" + args + L" file=" + self);
    // Without "/silent" a real setup would open its wizard; the stand-in has none and installs nothing.
    if (!HasSilentSwitch()) {
        RecordEvent(L"setup-end installed=no exit=1");
        return 1;
    }
    if (sleepMs > 0)
        Sleep(sleepMs);
    CreateDirectoryW(kServerDir, nullptr);
    bool copied = CopyFileW(self.c_str(), kServerProgram, FALSE) != FALSE;
    RecordEvent(std::wstring(L"setup-end installed=") + (copied ? L"yes" : L"no") + L" exit=" +
                std::to_wstring(exitCode));
    return static_cast<int>(exitCode);
}
