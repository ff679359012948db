#include "system/ProcessLauncher.h"

#include <process.h>

#include "core/MessagePump.h"
#include "core/Synchronize.h"
#include "system/ShellApi.h"

namespace memoline {
namespace {

// The worker whose body runs on this thread, so the background wait can see a request to stop.
thread_local TProcessLaunchThread* t_currentWorker = nullptr;

// SEE_MASK_NOCLOSEPROCESS: we need the process handle to wait for the end.
// SEE_MASK_FLAG_DDEWAIT: the call may return before a DDE conversation for a document has finished;
// this makes it wait, so the shell is done with the record when it returns.
// SEE_MASK_FLAG_NO_UI: the shell shows no error box of its own; failures reach OnError only.
constexpr ULONG kExecuteMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
static_assert(kExecuteMask == 0x540);

constexpr DWORD kBackgroundPollMs = 100;
constexpr DWORD kLaunchPollMs = 10;

int ShowCommand(TShowMode mode) {
    switch (mode) {
        case TShowMode::smMaximized:
            return SW_SHOWMAXIMIZED;
        case TShowMode::smMinimized:
            return SW_SHOWMINNOACTIVE;  // not SW_MINIMIZE: the started program must not take the focus
        case TShowMode::smHide:
            return SW_HIDE;
        case TShowMode::smNormal:
            break;
    }
    return SW_SHOWNORMAL;
}

// Waits for a thread to end while letting other threads' sent messages (Synchronize calls) run, so a
// worker blocked in such a call can finish.
void WaitForThreadServingSentMessages(HANDLE thread) {
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1)
            return;  // ended, or the handle is unusable: nothing more to wait for
        MSG msg;
        // PM_QS_SENDMESSAGE: only sent messages are delivered (inside this call); the queue is untouched.
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

// ---- TProcessLaunchThread

TProcessLaunchThread::TProcessLaunchThread(TProcessLauncher* launcher) : FLauncher(launcher) {
    // Created suspended and resumed last, so the body never sees a half-built object.
    unsigned id = 0;
    FHandle.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &id)));
    if (FHandle)
        ResumeThread(FHandle.get());
}

TProcessLaunchThread::~TProcessLaunchThread() {
    if (FHandle)
        WaitForThreadServingSentMessages(FHandle.get());
}

bool TProcessLaunchThread::Ended() const {
    return !FHandle || WaitForSingleObject(FHandle.get(), 0) == WAIT_OBJECT_0;
}

void TProcessLaunchThread::Execute() {
    if (FLauncher)
        FLauncher->LaunchAndWait(true);
}

unsigned __stdcall TProcessLaunchThread::ThreadProc(void* param) {
    auto* self = static_cast<TProcessLaunchThread*>(param);
    t_currentWorker = self;
    try {
        self->Execute();
    } catch (...) {
        // Nothing may leave a thread body; LaunchAndWait already cleaned up.
    }
    t_currentWorker = nullptr;
    return 0;
}

// ---- TProcessLauncher

TProcessLauncher::TProcessLauncher(TComponent* owner) : TComponent(owner) {}

TProcessLauncher::~TProcessLauncher() {
    FDestroying = true;
    for (auto& worker : FWorkers)
        worker->Terminate();
    // A worker may still be starting, polling or blocked in a notification; it stops within one poll,
    // and freeing it waits for that.
    FWorkers.clear();
}

bool TProcessLauncher::BackgroundWaitCancelled() const {
    return FDestroying || (t_currentWorker && t_currentWorker->Terminated());
}

void TProcessLauncher::Launch() {
    if (FRunning || FFileName.empty())
        return;
    if (FWaitUntilFinished) {
        LaunchAndWait(false);
        return;
    }
    // Cleared before the worker exists: the poll below must not take the error value of an earlier
    // failed start for the outcome of this one.
    FLastErrorCode = 0;
    FStartSettled = false;
    std::erase_if(FWorkers, [](const auto& worker) { return worker->Ended(); });
    auto worker = std::make_unique<TProcessLaunchThread>(this);
    if (!worker->Handle()) {
        FLastErrorCode = GetLastError();
        // No worker could be made; report it like a failed start.
        try {
            NotifyError();
        } catch (...) {
        }
        return;
    }
    FWorkers.push_back(std::move(worker));
    while (!FRunning && FLastErrorCode == 0 && !FStartSettled)
        Sleep(kLaunchPollMs);
}

SHELLEXECUTEINFOW TProcessLauncher::MakeExecuteInfo() const {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = kExecuteMask;
    info.hwnd = FOwnerWindow;
    // c_str() of an empty text is an empty string, never null: the shell gets exactly what was set.
    info.lpVerb = FAction.c_str();
    info.lpFile = FFileName.c_str();
    info.lpParameters = FParameters.c_str();
    info.lpDirectory = FStartDir.c_str();
    info.nShow = ShowCommand(FShowMode);
    return info;
}

BOOL TProcessLauncher::CallShellExecute(SHELLEXECUTEINFOW& info) {
    shell::TComApartment com;
    return shell::ShellExecuteExW(&info);
}

std::uint32_t TProcessLauncher::StartThroughShell(SHELLEXECUTEINFOW& info, bool& started) {
    // Cleared first, so a failure that sets no code of its own is not mistaken for an earlier one.
    SetLastError(ERROR_SUCCESS);
    started = CallShellExecute(info) != FALSE;
    if (started)
        return 0;
    const DWORD system = GetLastError();
    // hInstApp's values are a Win16 table with no word for a declined prompt; the system's code is the
    // real cause, and hInstApp only the last resort.
    if (system != ERROR_SUCCESS)
        return system;
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info.hInstApp));
}

void TProcessLauncher::LaunchAndWait(bool background) {
    FLastErrorCode = 0;
    FHInstance = 0;
    FHProcess = nullptr;
    FExitCode = 0;

    SHELLEXECUTEINFOW info = MakeExecuteInfo();
    bool started = false;
    if (const std::uint32_t failure = StartThroughShell(info, started); !started) {
        FLastErrorCode = failure;
        FStartSettled = true;
        try {
            if (background)
                NotifyOnUiThread(&TProcessLauncher::NotifyError);
            else
                NotifyError();
        } catch (...) {
            // A handler's exception ends the launch here; it must not unwind through the caller's frames.
        }
        return;
    }

    // Closed however the wait below ends.
    unique_handle process(info.hProcess);
    FHInstance = reinterpret_cast<std::uintptr_t>(info.hInstApp);
    FHProcess = info.hProcess;
    FRunning = true;
    FStartSettled = true;
    try {
        if (background)
            WaitInBackground();
        else if (FWaitType == TProcessWaitType::wtProcessMessages)
            WaitProcessingMessages();
        else
            WaitFullStop();
    } catch (...) {
        // An exception out of an event handler ends the wait like any other end.
    }
    process.reset();
    // The value is cleared with the handle, so nothing later uses a closed (possibly reused) handle.
    FHProcess = nullptr;
    FRunning = false;
}

void TProcessLauncher::WaitProcessingMessages() {
    HANDLE process = FHProcess;
    const DWORD limit = static_cast<DWORD>(FTimeout);  // -1 becomes INFINITE
    const bool unlimited = limit == INFINITE;
    const ULONGLONG start = GetTickCount64();
    // The limit counts from the start of the wait: every wake-up gets only what is left, so a busy
    // window cannot postpone the time-out.
    auto remaining = [&]() -> DWORD {
        if (unlimited)
            return INFINITE;
        const ULONGLONG elapsed = GetTickCount64() - start;
        return elapsed >= limit ? 0 : static_cast<DWORD>(limit - elapsed);
    };

    // A quit request cannot end the wait; it is handed back once the wait is over.
    core::TQuitHold quit;

    for (;;) {
        // QS_ALLINPUT: input, paint and timer messages wake the wait as well as posted and sent ones, so
        // the window stays responsive while the program runs.
        DWORD r = MsgWaitForMultipleObjects(1, &process, FALSE, remaining(), QS_ALLINPUT);
        if (r == WAIT_OBJECT_0 + 1) {
            core::ProcessPendingMessages(core::TQuitPolicy::HoldUntilWaitEnds, &quit);
            if (remaining() != 0)
                continue;
            // Time is up while messages kept arriving: one last look at the process decides.
            r = WaitForSingleObject(process, 0);
        }
        if (r == WAIT_FAILED) {
            FLastErrorCode = GetLastError();
            NotifyError();
            return;
        }
        if (r == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process, &code);
            FExitCode = code;
            NotifyFinished();
            return;
        }
        if (r == WAIT_TIMEOUT)
            NotifyTimeout();
        return;
    }
}

void TProcessLauncher::WaitFullStop() {
    HANDLE process = FHProcess;
    const DWORD r = WaitForSingleObject(process, static_cast<DWORD>(FTimeout));
    if (r == WAIT_FAILED) {
        FLastErrorCode = GetLastError();
        NotifyError();
    } else if (r == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        FExitCode = code;
        NotifyFinished();
    } else if (r == WAIT_TIMEOUT) {
        NotifyTimeout();
    }
}

void TProcessLauncher::WaitInBackground() {
    HANDLE process = FHProcess;
    const std::uint64_t limit = static_cast<std::uint32_t>(FTimeout);
    std::uint64_t elapsed = 0;
    while (!BackgroundWaitCancelled()) {
        const DWORD r = WaitForSingleObject(process, kBackgroundPollMs);
        if (r == WAIT_FAILED) {
            FLastErrorCode = GetLastError();
            NotifyOnUiThread(&TProcessLauncher::NotifyError);
            return;
        }
        if (r == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process, &code);
            FExitCode = code;
            NotifyOnUiThread(&TProcessLauncher::NotifyFinished);
            return;
        }
        if (r != WAIT_TIMEOUT)
            return;
        elapsed += kBackgroundPollMs;
        if (elapsed >= limit) {
            NotifyOnUiThread(&TProcessLauncher::NotifyTimeout);
            return;
        }
    }
}

void TProcessLauncher::NotifyOnUiThread(void (TProcessLauncher::*notify)()) {
    core::Synchronize([this, notify] {
        // Checked on the UI thread, where destruction also runs: a launcher being destroyed raises
        // nothing more.
        if (!FDestroying)
            (this->*notify)();
    });
}

void TProcessLauncher::NotifyFinished() {
    if (OnFinished)
        OnFinished(this);
}

void TProcessLauncher::NotifyTimeout() {
    if (OnTimeout)
        OnTimeout(this);
}

void TProcessLauncher::NotifyError() {
    if (OnError)
        OnError(this, FLastErrorCode);
}

std::uint32_t TProcessLauncher::Execute() {
    if (FRunning || FFileName.empty())
        return 0;
    FHInstance = 0;
    FHProcess = nullptr;
    FExitCode = 0;
    SHELLEXECUTEINFOW info = MakeExecuteInfo();
    bool started = false;
    if (const std::uint32_t failure = StartThroughShell(info, started); !started)
        return failure;
    FHInstance = reinterpret_cast<std::uintptr_t>(info.hInstApp);
    FHProcess = info.hProcess;  // the caller's from now on
    return 0;
}

std::wstring TProcessLauncher::GetErrorMsg(std::uint32_t ErrorCode) {
    struct Entry {
        std::uint32_t code;
        const wchar_t* text;
    };
    static constexpr Entry kTexts[] = {
        {0, L"Out of memory or executable file is corrupt"},
        {2, L"File was not found"},
        {3, L"Path was not found"},
        {5, L"Sharing violation or netword error"},
        {6, L"A library required separate data segments for each task"},
        {8, L"Insufficient memory to start application"},
        {10, L"Incorrect version of Windows"},
        {11, L"File is not a Windows application or there was an error in the .EXE image"},
        {12, L"Application was designed for a different operating system"},
        {13, L"Application was designed for MS-DOS 4.0"},
        {14, L"Unknown executable file type"},
        {15, L"Cannot load a real-mode application"},
        {16,
         L"Cannot load a second instance of an executable file containing multiple, non-read-only data "
         L"segments"},
        {19, L"Cannot load a compressed executable file"},
        {20, L"A dynamic-link library (DLL) file is invalid"},
        {21, L"Application requires Windows 32-bit extensions"},
        {31, L"No association for specified file type"},
    };
    for (const Entry& entry : kTexts) {
        if (entry.code == ErrorCode)
            return entry.text;
    }
    return L"Unknown Error";
}

HWND TProcessLauncher::GetWindowHandle() const {
    HANDLE process = FHProcess;
    if (!process)
        return nullptr;
    const DWORD pid = GetProcessId(process);
    if (pid == 0)
        return nullptr;
    for (HWND wnd = GetTopWindow(nullptr); wnd; wnd = GetWindow(wnd, GW_HWNDNEXT)) {
        if (GetParent(wnd))
            continue;
        DWORD owner = 0;
        GetWindowThreadProcessId(wnd, &owner);
        if (owner == pid)
            return wnd;
    }
    return nullptr;
}

}  // namespace memoline
