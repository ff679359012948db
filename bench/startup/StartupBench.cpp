// Start-up time of window programs: from CreateProcess to the end of the main window's first complete
// paint. Each program is started ROUNDS times, the programs taking turns, and closed through its
// window once painted.
//   startup_bench.exe ROUNDS NAME=EXE [NAME=EXE ...]
// Prints "startup_<NAME>_seconds=<median>", the rounds, and for the record the median time to the
// window's WS_VISIBLE (the end point this benchmark used before: it came before the first paint).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

struct Search {
    DWORD processId;
    HWND found;
};

// The main window: a visible top-level window of the process that is not a dialog box, so that a
// message box shown at start counts as nothing.
BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (pid == search->processId && IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") != 0) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindUpdateRegion(HWND hwnd, LPARAM lp) {
    if (IsWindowVisible(hwnd) && GetUpdateRect(hwnd, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(lp) = true;
        return FALSE;
    }
    return TRUE;
}

// Whether the window or any window inside it still waits to be painted.
bool PaintPending(HWND window) {
    bool pending = GetUpdateRect(window, nullptr, FALSE) != FALSE;
    if (!pending)
        EnumChildWindows(window, FindUpdateRegion, reinterpret_cast<LPARAM>(&pending));
    return pending;
}

// Returns when the window's thread has come back to its message loop: a message sent from another
// thread is handled only there (or in a nested wait), never in the middle of a WM_PAINT handler.
bool ThreadAnswered(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result) != 0;
}

struct Times {
    double visible = -1;
    double painted = -1;
};

// Painted: after the window is visible, its thread answered, no window of it waits to be painted
// (BeginPaint empties the update region), and its thread answered once more (so the WM_PAINT that
// emptied the last region has returned). Three such rounds in a row, so that a window made visible
// while its update region was not yet set cannot end the interval early.
Times MeasureOnce(const std::wstring& exe) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + exe + L"\"";
    Times times;
    const double start = Now();
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return times;
    Search search{pi.dwProcessId, nullptr};
    while (Now() - start < 30) {
        EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            times.visible = Now() - start;
            break;
        }
        if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0)
            break;  // ended without a window
    }
    int cleanRounds = 0;
    while (search.found && cleanRounds < 3 && Now() - start < 30) {
        if (!ThreadAnswered(search.found))
            break;
        if (PaintPending(search.found)) {
            cleanRounds = 0;
            continue;
        }
        if (!ThreadAnswered(search.found))
            break;
        if (cleanRounds++ == 0)
            times.painted = Now() - start;
    }
    if (cleanRounds < 3)
        times.painted = -1;
    if (search.found)
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return times;
}

struct Program {
    std::string name;
    std::wstring exe;
    std::vector<double> painted;
    std::vector<double> visible;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: startup_bench ROUNDS NAME=EXE [NAME=EXE ...]\n");
        return 2;
    }
    const int rounds = std::max(1, _wtoi(argv[1]));
    std::vector<Program> programs;
    for (int i = 2; i < argc; ++i) {
        std::wstring arg = argv[i];
        const size_t eq = arg.find(L'=');
        if (eq == std::wstring::npos)
            return 2;
        programs.push_back(
            {std::string(arg.begin(), arg.begin() + static_cast<std::ptrdiff_t>(eq)), arg.substr(eq + 1), {}, {}});
    }
    // One start of each first, not counted: the first start of a program also loads it from disk.
    for (Program& p : programs)
        MeasureOnce(p.exe);
    for (int r = 0; r < rounds; ++r) {
        for (Program& p : programs) {
            const Times t = MeasureOnce(p.exe);
            if (t.painted < 0) {
                std::printf("%s showed no painted main window\n", p.name.c_str());
                return 1;
            }
            p.painted.push_back(t.painted);
            p.visible.push_back(t.visible);
        }
    }
    for (Program& p : programs) {
        std::printf("startup_%s_seconds=%.4f\n", p.name.c_str(), Median(p.painted));
        std::printf("startup_%s_rounds=", p.name.c_str());
        for (size_t i = 0; i < p.painted.size(); ++i)
            std::printf("%s%.4f", i ? "," : "", p.painted[i]);
        std::printf("\n");
        std::printf("startup_%s_visible_seconds=%.4f\n", p.name.c_str(), Median(p.visible));
    }
    std::fflush(stdout);
    return 0;
}
