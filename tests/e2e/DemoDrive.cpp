// Runs the demo's road through the real updater by itself, for a machine without a display:
// Check, select the newest update, Install, Yes. Prints what happened, saves screenshots (BMP) of
// the main window after the check, of the progress dialog during the download and of the main window
// at the end, and ends with 0 only when the current-version label shows the newest version.
//
// Usage: memoline_demo_drive UPDATER_EXE SCREENSHOT_DIR RESULT_FILE
// The result file receives "PASS" or "FAIL: <reason>", since the program's own exit code may not
// reach the shell when it runs inside a Wine desktop.
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "app/VersionCompare.h"
#include "tests/e2e/driver/Driver.h"

using namespace memoline;
using namespace memoline::e2e;

namespace {

constexpr int kColVersion = 0, kColBuild = 1, kColReleaseDate = 2, kColLink = 3;

void Say(const std::wstring& line) {
    std::printf("%s\n", Narrow(line).c_str());
    std::fflush(stdout);
}

void WriteResult(const std::wstring& path, const std::string& text) {
    unique_file file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Waits until the status line begins with `beginning`, then saves a screenshot.
void ShootStatus(const UpdaterProcess& updater,
                 const std::wstring& beginning,
                 const std::wstring& shot,
                 Duration timeout) {
    WaitOrThrow([&] { return updater.StatusText().rfind(beginning, 0) == 0; }, timeout,
                L"the status line to read \"" + beginning + L"\"");
    std::this_thread::sleep_for(300ms);  // let it paint
    Say(L"  status line: " + updater.StatusText());
    SaveScreenshot(shot);
}

MessageBoxInfo ShowBox(DWORD pid, Duration timeout) {
    MessageBoxInfo box = WaitForMessageBox(pid, timeout);
    Say(L"  message box \"" + box.caption + L"\": " + box.text);
    return box;
}

// The road; returns the failure, or empty when the label shows the newest version at the end.
std::wstring Drive(const std::wstring& exe, const std::wstring& shots) {
    Say(L"starting " + exe);
    UpdaterProcess updater(exe);
    updater.WaitForMainWindow(60s);
    std::this_thread::sleep_for(1s);  // let it paint
    Say(L"main window is up; label: " + updater.CurrentVersionText());
    RECT window;
    GetWindowRect(updater.MainWindow(), &window);
    RECT client;
    GetClientRect(updater.MainWindow(), &client);
    Say(L"window at (" + std::to_wstring(window.left) + L", " + std::to_wstring(window.top) + L"), " +
        std::to_wstring(window.right - window.left) + L" x " + std::to_wstring(window.bottom - window.top) +
        L", client area " + std::to_wstring(client.right) + L" x " + std::to_wstring(client.bottom) + L", screen " +
        std::to_wstring(GetSystemMetrics(SM_CXSCREEN)) + L" x " + std::to_wstring(GetSystemMetrics(SM_CYSCREEN)));
    if (window.left < 0 || window.top < 0 || window.right > GetSystemMetrics(SM_CXSCREEN) ||
        window.bottom > GetSystemMetrics(SM_CYSCREEN))
        return L"the window is not fully on the screen";

    Say(L"pressing Check");
    Click(updater.ButtonOf(L"Check"));
    ShootStatus(updater, L"Checking for updates", shots + L"1-checking.bmp", 30s);
    AnswerMessageBox(ShowBox(updater.Pid(), 120s), IDOK);

    RemoteListView grid = updater.Grid();
    const int rows = grid.Count();
    Say(L"the grid lists " + std::to_wstring(rows) + L" update(s):");
    int newest = -1;
    std::wstring newestBuild;
    for (int r = 0; r < rows; ++r) {
        std::wstring build = grid.Text(r, kColBuild);
        Say(L"  " + grid.Text(r, kColVersion) + L" | " + build + L" | " + grid.Text(r, kColReleaseDate) + L" | " +
            grid.Text(r, kColLink));
        if (newest < 0 || CompareVersions(build, newestBuild) > 0) {
            newest = r;
            newestBuild = build;
        }
    }
    std::this_thread::sleep_for(500ms);
    SaveScreenshot(shots + L"2-after-check.bmp");
    if (newest < 0)
        return L"the check listed no update";

    Say(L"selecting the newest, " + grid.Text(newest, kColVersion));
    grid.Select(newest);
    WaitOrThrow([&] { return IsEnabled(updater.ButtonOf(L"Install")); }, 10s, L"Install to be enabled");
    Say(L"pressing Install");
    Click(updater.ButtonOf(L"Install"));
    MessageBoxInfo confirm = ShowBox(updater.Pid(), 30s);
    Say(L"answering Yes");
    AnswerMessageBox(confirm, IDYES);

    HWND progress = updater.WaitForProgressDialog(60s);
    std::this_thread::sleep_for(2s);  // some of the transfer, so the bar has moved
    if (IsWindow(progress))
        Say(L"progress dialog: " + WindowText(progress));
    SaveScreenshot(shots + L"3-progress.bmp");
    ShootStatus(updater, L"Installing", shots + L"4-installing.bmp", 120s);
    ShootStatus(updater, L"Updating the data", shots + L"5-updating-data.bmp", 120s);

    MessageBoxInfo done = ShowBox(updater.Pid(), 300s);
    SaveScreenshot(shots + L"6-outcome.bmp");  // the install's last message, as the operator sees it
    AnswerMessageBox(done, IDOK);
    std::this_thread::sleep_for(1s);
    const std::wstring label = updater.CurrentVersionText();
    Say(L"label at the end: " + label);
    SaveScreenshot(shots + L"7-end.bmp");
    Say(L"the grid lists " + std::to_wstring(grid.Count()) + L" update(s) after the install");

    Say(L"pressing Exit");
    Click(updater.ButtonOf(L"Exit"));
    if (!updater.WaitForExit(30s))
        return L"the updater did not end after Exit";
    if (label.find(L"<b>" + newestBuild + L"</b>") == std::wstring::npos)
        return L"the label does not show version " + newestBuild;
    return {};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: memoline_demo_drive UPDATER_EXE SCREENSHOT_DIR RESULT_FILE\n");
        return 2;
    }
    std::wstring shots = argv[2];
    if (!shots.empty() && shots.back() != L'\\')
        shots += L'\\';
    std::wstring failure;
    try {
        failure = Drive(argv[1], shots);
    } catch (const std::exception& e) {
        failure = L"driver error: " + Widen(e.what());
    }
    if (failure.empty()) {
        Say(L"PASS: the label shows the newest version");
        WriteResult(argv[3], "PASS\n");
        return 0;
    }
    Say(L"FAIL: " + failure);
    WriteResult(argv[3], "FAIL: " + Narrow(failure) + "\n");
    return 1;
}
