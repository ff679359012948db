// Start-up time of window programs: from CreateProcess to the first visible top-level window of the
// new process. Each program is started ROUNDS times, the programs taking turns, and closed through
// its window once it is visible.
//   startup_bench.exe ROUNDS NAME=EXE [NAME=EXE ...]
// Prints "startup_<NAME>_seconds=<median>" and the rounds for every program.
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

BOOL CALLBACK FindVisibleWindow(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search->processId && IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Seconds from the start of `exe` to its first visible window; negative when it never showed one.
double MeasureOnce(const std::wstring& exe) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + exe + L"\"";
    const double start = Now();
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    Search search{pi.dwProcessId, nullptr};
    double seconds = -1;
    while (Now() - start < 30) {
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            seconds = Now() - start;
            break;
        }
        if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0)
            break;  // ended without a window
    }
    if (search.found)
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return seconds;
}

struct Program {
    std::string name;
    std::wstring exe;
    std::vector<double> seconds;
};

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
            {std::string(arg.begin(), arg.begin() + static_cast<std::ptrdiff_t>(eq)), arg.substr(eq + 1), {}});
    }
    // One start of each first, not counted: the first start of a program also loads it from disk.
    for (Program& p : programs)
        MeasureOnce(p.exe);
    for (int r = 0; r < rounds; ++r) {
        for (Program& p : programs) {
            const double s = MeasureOnce(p.exe);
            if (s < 0) {
                std::printf("%s showed no window\n", p.name.c_str());
                return 1;
            }
            p.seconds.push_back(s);
        }
    }
    for (Program& p : programs) {
        std::vector<double> sorted = p.seconds;
        std::sort(sorted.begin(), sorted.end());
        std::printf("startup_%s_seconds=%.4f\n", p.name.c_str(), sorted[sorted.size() / 2]);
        std::printf("startup_%s_rounds=", p.name.c_str());
        for (size_t i = 0; i < p.seconds.size(); ++i)
            std::printf("%s%.4f", i ? "," : "", p.seconds[i]);
        std::printf("\n");
    }
    std::fflush(stdout);
    return 0;
}
