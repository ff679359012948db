// The demo's stand-ins for the product's setup and data-update programs write what they did to one
// events file in the server's folder, one line per event, so a test or the demo can read back what
// ran, in which order, with which command line.
#pragma once

#include <windows.h>

#include <string>

namespace memoline::demo {

inline constexpr const wchar_t* kEventsPath = L"C:\\Memoline5Server\\demo-events.log";

// Appends "<event> <details>" as one UTF-8 line. The append mode makes concurrent writers safe
// enough for a demo: each line is one WriteFile call.
inline void RecordEvent(const std::wstring& line) {
    CreateDirectoryW(L"C:\\Memoline5Server", nullptr);
    HANDLE file = CreateFileW(kEventsPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::wstring text = line + L"\r\n";
    int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace memoline::demo
