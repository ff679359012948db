// Drives the real updater program from another process, the way an operator would: starts it, finds
// its windows and controls, presses buttons, reads and selects rows of its grid, reads and answers
// its message boxes, and takes screenshots. Every wait has a time-out and raises DriverError when it
// passes, so a test never hangs on a window that does not come.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Handles.h"

namespace memoline::e2e {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;

class DriverError : public std::runtime_error {
public:
    explicit DriverError(const std::wstring& what);
};

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& utf8);

// Polls `done` every 50 ms until it is true; false when `timeout` passes first.
bool WaitUntil(const std::function<bool()>& done, Duration timeout);
// The same, but raises DriverError naming `what` on time-out.
void WaitOrThrow(const std::function<bool()>& done, Duration timeout, const std::wstring& what);

// Window queries that work across processes. Texts are read with WM_GETTEXT under a time-out.
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
bool IsEnabled(HWND hwnd);
std::vector<HWND> TopLevelWindows(DWORD pid);  // visible ones only
// All descendants of `parent`, depth first.
std::vector<HWND> Descendants(HWND parent);
// The first descendant with this class (empty: any) and text; null when none.
HWND FindChild(HWND parent, const std::wstring& className, const std::wstring& text);
// A push button by caption; raises DriverError when it is missing.
HWND Button(HWND parent, const std::wstring& caption);

// Presses a button without waiting for what it starts: the click is posted, so a modal loop that the
// click opens in the target never blocks the driver.
void Click(HWND button);
// Asks a top-level window to close (WM_CLOSE posted, as from the title bar's close button).
void PostClose(HWND window);

// A report-view list control in another process, read and written through memory allocated in that
// process (its messages carry pointers that must be valid there).
class RemoteListView {
public:
    RemoteListView(HWND list, DWORD pid);
    int Count() const;
    int ColumnCount() const;
    std::wstring Text(int row, int column) const;
    std::vector<std::wstring> Row(int row) const;
    // Selects and focuses one row (the grid raises its select event, as on a click).
    void Select(int row) const;
    int SelectedRow() const;  // -1 when none
    // The row whose cell in `column` reads `text`; raises DriverError when there is none.
    int FindRow(int column, const std::wstring& text) const;

private:
    HWND list_;
    unique_handle process_;
};

struct MessageBoxInfo {
    HWND hwnd = nullptr;
    std::wstring caption;
    std::wstring text;
};

// A standard dialog (class "#32770") shown by the process: its caption and its static text.
std::optional<MessageBoxInfo> FindMessageBox(DWORD pid);
MessageBoxInfo WaitForMessageBox(DWORD pid, Duration timeout);
// Presses the box's button with this id (IDOK, IDYES, IDNO) and waits until the box is gone.
void AnswerMessageBox(const MessageBoxInfo& box, int buttonId, Duration timeout = 10s);

// Saves the whole screen as a 24-bit BMP file.
void SaveScreenshot(const std::wstring& path);

// The updater as a separate process, killed when the object goes unless it has ended.
class UpdaterProcess {
public:
    static constexpr const wchar_t* kCaption = L"Memoline Server Updates";

    explicit UpdaterProcess(const std::wstring& exePath);
    ~UpdaterProcess();
    UpdaterProcess(const UpdaterProcess&) = delete;
    UpdaterProcess& operator=(const UpdaterProcess&) = delete;

    DWORD Pid() const { return pid_; }
    // The main window, once it is visible; raises DriverError after `timeout`.
    HWND WaitForMainWindow(Duration timeout = 30s);
    HWND MainWindow() const { return main_; }
    HWND ButtonOf(const std::wstring& caption) const { return Button(main_, caption); }
    RemoteListView Grid() const;
    // The text of the current-version label ("You currently have Version <b>5.9.0</b> installed.").
    std::wstring CurrentVersionText() const;
    // The line under the buttons that says what the updater is doing; empty when it is idle.
    std::wstring StatusText() const;
    // Waits until the updater is at rest: its status line empty, no message box or progress dialog,
    // the main window enabled (a modal box disables it) and its thread back in its message loop.
    // Raises DriverError after `timeout`.
    void WaitUntilAtRest(Duration timeout) const;

    // The download progress dialog: a top-level window of the process, other than the main window
    // and the message boxes, with a "Cancel" button. Null when none is shown.
    HWND FindProgressDialog() const;
    HWND WaitForProgressDialog(Duration timeout) const;

    bool Running() const;
    // Waits for the end of the process; its exit code, or nullopt on time-out.
    std::optional<DWORD> WaitForExit(Duration timeout);
    void Kill();

private:
    unique_handle process_;
    DWORD pid_ = 0;
    HWND main_ = nullptr;
};

}  // namespace memoline::e2e
