// What the exe checks must refuse, in one small exe: it imports a function Windows 7 lacks, it is not
// marked terminal-server aware, and it carries no signature. Built, never run.
#include <windows.h>

// Windows 8 and later; the headers hide it at the Windows 7 level the project builds for.
extern "C" __declspec(dllimport) void WINAPI GetSystemTimePreciseAsFileTime(FILETIME* time);

int main() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return static_cast<int>(now.dwLowDateTime & 1);
}
