#include "tools/child/ChildOptions.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "core/TextUtil.h"

namespace memoline::child {
namespace {

std::wstring FromUtf8(const std::string& bytes) {
    if (bytes.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix, std::wstring* rest) {
    const size_t n = wcslen(prefix);
    if (text.compare(0, n, prefix) != 0)
        return false;
    *rest = text.substr(n);
    return true;
}

// Applies the options of one command line (program name first, as CommandLineToArgvW gives it).
void Apply(const std::wstring& commandLine, Options* options) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine.c_str(), &argc);
    if (!argv)
        return;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        std::wstring value;
        if (StartsWith(arg, L"--exit-code=", &value))
            options->exitCode = static_cast<unsigned>(wcstoul(value.c_str(), nullptr, 10));
        else if (StartsWith(arg, L"--after-ms=", &value))
            options->afterMs = static_cast<unsigned>(wcstoul(value.c_str(), nullptr, 10));
        else if (StartsWith(arg, L"--wait-event=", &value))
            options->waitEvent = value;
        else if (StartsWith(arg, L"--record=", &value))
            options->record = value;
        else if (StartsWith(arg, L"--copy-from=", &value))
            options->copyFrom = value;
        else if (StartsWith(arg, L"--copy-to=", &value))
            options->copyTo = value;
        else if (StartsWith(arg, L"--title=", &value))
            options->title = value;
    }
    LocalFree(argv);
}

std::wstring ReadSmallFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes(64 * 1024, '\0');
    DWORD got = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r'))
        bytes.pop_back();
    return FromUtf8(bytes);
}

}  // namespace

Options ReadOptions() {
    Options options;
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring sidecar(path, n);
    const size_t dot = sidecar.find_last_of(L'.');
    const size_t slash = sidecar.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        sidecar.resize(dot);
    const std::wstring fromFile = ReadSmallFile(sidecar + L".options");
    if (!fromFile.empty())
        Apply(L"x " + fromFile, &options);
    Apply(GetCommandLineW(), &options);
    return options;
}

void Record(const Options& options) {
    if (options.record.empty())
        return;
    wchar_t cwd[MAX_PATH * 4];
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(std::size(cwd)), cwd);
    const std::string text =
        "cmdline=" + ToUtf8(GetCommandLineW()) + "\r\ncwd=" + ToUtf8(std::wstring(cwd, n)) + "\r\n";
    HANDLE file = CreateFileW(options.record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

bool CopyIfAsked(const Options& options) {
    if (options.copyFrom.empty() || options.copyTo.empty())
        return true;
    return CopyFileW(options.copyFrom.c_str(), options.copyTo.c_str(), FALSE) != 0;
}

}  // namespace memoline::child
