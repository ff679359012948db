// A DLL that only tells it was loaded: copied under the name of a system DLL beside a program, it
// writes "<its file name>.loaded" into its own folder from DllMain, then refuses to load, so a
// loader that falls back to the real DLL (Wine's "n,b" order) still keeps the program running.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t path[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    lstrcpyW(path + length, L".loaded");
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return FALSE;
}
