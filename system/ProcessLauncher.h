// Starts a program (or opens a document) through the Windows shell, waits for the started process to
// end and raises an event: blocking the calling thread, waiting while the UI thread keeps processing
// window messages, or on a worker thread of its own.
#pragma once

#include "core/Handles.h"

#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Component.h"

namespace memoline {

// Initial window state of the started program.
enum class TShowMode : std::uint8_t {
    smNormal,     // SW_SHOWNORMAL
    smMaximized,  // SW_SHOWMAXIMIZED
    smMinimized,  // SW_SHOWMINNOACTIVE: minimised without taking the focus from the caller
    smHide,       // SW_HIDE
};

// How the calling thread waits when WaitUntilFinished is true.
enum class TProcessWaitType : std::uint8_t {
    wtFullStop,         // blocks; no messages are processed meanwhile
    wtProcessMessages,  // keeps processing the thread's window messages
};

using TProcessLaunchErrorEvent = std::function<void(TObject* Sender, std::uint32_t ErrorCode)>;

class TProcessLauncher;

// The worker of one background launch, owned by its launcher. It starts running when constructed;
// destroying it waits until its thread has ended, serving messages sent to the destroying thread
// meanwhile, so a body blocked in a notification to that thread can finish.
class TProcessLaunchThread : public TObject {
public:
    explicit TProcessLaunchThread(TProcessLauncher* launcher);
    ~TProcessLaunchThread() override;
    TProcessLaunchThread(const TProcessLaunchThread&) = delete;
    TProcessLaunchThread& operator=(const TProcessLaunchThread&) = delete;

    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    // The system's handle of the thread; null when no thread could be started.
    HANDLE Handle() const { return FHandle.get(); }
    // True once the thread's body has returned.
    bool Ended() const;

protected:
    // Runs the launcher's LaunchAndWait when a launcher is set.
    virtual void Execute();

private:
    static unsigned __stdcall ThreadProc(void* self);

    TProcessLauncher* FLauncher;
    std::atomic<bool> FTerminated{false};
    unique_handle FHandle;
};

class TProcessLauncher : public TComponent {
public:
    explicit TProcessLauncher(TComponent* owner = nullptr);
    // Stops the worker of a background launch and waits until it has left this object; a started
    // process runs on. A launcher must not be destroyed from inside its own calling-thread wait, nor
    // from one of its own event handlers (a background worker is blocked until that handler returns).
    ~TProcessLauncher() override;

    // Starts FileName and, with WaitUntilFinished true, returns when the whole launch is over (start
    // failed, or the wait ended, its notification returned and the process handle was closed). Does
    // nothing while Running is true or FileName is empty. Outcomes arrive as events; an exception
    // thrown by an event handler ends the wait and does not leave Launch.
    virtual void Launch();
    // Starts FileName without waiting and without events. Returns 0 when the process was started (its
    // handle is left in HProcess for the caller to close) or when nothing was attempted, otherwise the
    // error value (see OnError).
    virtual std::uint32_t Execute();
    // The message text for a shell error value.
    static std::wstring GetErrorMsg(std::uint32_t ErrorCode);
    // The first top-level window, in Z order, that belongs to the started process; null when none.
    HWND GetWindowHandle() const;

    std::uintptr_t HInstance() const { return FHInstance; }
    const std::wstring& Action() const { return FAction; }
    void SetAction(const std::wstring& value) { FAction = value; }
    const std::wstring& FileName() const { return FFileName; }
    void SetFileName(const std::wstring& value) { FFileName = value; }
    const std::wstring& Parameters() const { return FParameters; }
    void SetParameters(const std::wstring& value) { FParameters = value; }
    TShowMode ShowMode() const { return FShowMode; }
    void SetShowMode(TShowMode value) { FShowMode = value; }
    // The window that owns what the start shows (the consent prompt of an elevation, the shell's
    // dialogs): without one the prompt can open only as a flashing taskbar button.
    HWND OwnerWindow() const { return FOwnerWindow; }
    void SetOwnerWindow(HWND value) { FOwnerWindow = value; }
    const std::wstring& StartDir() const { return FStartDir; }
    void SetStartDir(const std::wstring& value) { FStartDir = value; }
    // Milliseconds; handed to the platform as an unsigned count, so -1 means no limit.
    std::int32_t Timeout() const { return FTimeout; }
    void SetTimeout(std::int32_t value) { FTimeout = value; }
    TProcessWaitType WaitType() const { return FWaitType; }
    void SetWaitType(TProcessWaitType value) { FWaitType = value; }
    bool WaitUntilFinished() const { return FWaitUntilFinished; }
    void SetWaitUntilFinished(bool value) { FWaitUntilFinished = value; }
    std::uint32_t ExitCode() const { return FExitCode; }
    HANDLE HProcess() const { return FHProcess; }
    bool Running() const { return FRunning; }

    TNotifyEvent OnFinished;
    TNotifyEvent OnTimeout;
    // A failed start or wait: the system's error code (1223, ERROR_CANCELLED, when the operator
    // declined the consent prompt), or the shell's value (up to 32) when the system gave none.
    TProcessLaunchErrorEvent OnError;

protected:
    virtual void WaitProcessingMessages();
    virtual void WaitFullStop();
    virtual void WaitInBackground();
    virtual void NotifyFinished();
    virtual void NotifyTimeout();
    virtual void NotifyError();
    // The one call of the shell; a seam for tests that look at the record or simulate failures.
    virtual BOOL CallShellExecute(SHELLEXECUTEINFOW& info);

private:
    friend class TProcessLaunchThread;

    // Starts the program and runs one wait; the body of Launch and of the background worker.
    // background: called by the worker, whose notifications go to the UI thread.
    void LaunchAndWait(bool background);
    // Fills the record every start uses; the strings stay owned by this launcher.
    SHELLEXECUTEINFOW MakeExecuteInfo() const;
    // Calls the shell; on failure (started false) returns the error value OnError reports.
    std::uint32_t StartThroughShell(SHELLEXECUTEINFOW& info, bool& started);
    // On the worker: runs a notification on the UI thread and waits for it, unless the launcher is
    // being destroyed.
    void NotifyOnUiThread(void (TProcessLauncher::*notify)());
    // True once the worker running this wait has been asked to stop.
    bool BackgroundWaitCancelled() const;

    std::atomic<std::uintptr_t> FHInstance{0};
    std::wstring FAction = L"Open";
    std::wstring FFileName;
    std::wstring FParameters;
    TShowMode FShowMode = TShowMode::smNormal;
    std::wstring FStartDir;
    HWND FOwnerWindow = nullptr;
    std::int32_t FTimeout = -1;
    TProcessWaitType FWaitType = TProcessWaitType::wtFullStop;
    bool FWaitUntilFinished = false;
    std::atomic<std::uint32_t> FExitCode{0};
    std::atomic<std::uint32_t> FLastErrorCode{0};
    std::atomic<HANDLE> FHProcess{nullptr};
    std::atomic<bool> FRunning{false};

    // Every worker started and not yet seen to end, the current one last. Used only on the thread that
    // calls Launch and destroys the launcher; the workers never touch it.
    std::vector<std::unique_ptr<TProcessLaunchThread>> FWorkers;
    // Set by the worker once the start has succeeded or failed, so a background Launch can return even
    // when neither Running nor the error value shows it (error value 0, or a process already gone).
    std::atomic<bool> FStartSettled{false};
    // Set when destruction begins: notifications of workers are dropped from then on.
    std::atomic<bool> FDestroying{false};
};

}  // namespace memoline
