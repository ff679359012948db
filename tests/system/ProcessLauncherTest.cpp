// The process launcher against real child processes under Wine: memoline_exit_after (exits with a
// given code after a given time, records its command line) and memoline_window_child (shows a window).
#include "system/ProcessLauncher.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/PumpUntil.h"
#include "tests/support/TestFiles.h"

namespace memoline {
namespace {

using test::BinDir;
using test::PumpUntil;
using test::ScratchDir;

std::wstring ExitAfter() {
    return BinDir() + L"memoline_exit_after.exe";
}
std::wstring WindowChild() {
    return BinDir() + L"memoline_window_child.exe";
}

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

bool HandleIsOpen(HANDLE h) {
    DWORD flags = 0;
    return h && GetHandleInformation(h, &flags) != 0;
}

unique_handle Duplicate(HANDLE h) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return unique_handle(copy);
}

// A named event that holds an exit_after child (--wait-event) until the test releases it: while held,
// the child runs for certain, however slowly the system starts processes.
class ChildHold {
public:
    ChildHold()
        : name_(L"memoline_child_hold_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++count_)),
          event_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())) {}
    ~ChildHold() { Release(); }
    std::wstring Option() const { return L" --wait-event=" + name_; }
    void Release() { SetEvent(event_.get()); }

private:
    static inline int count_ = 0;
    std::wstring name_;
    unique_handle event_;
};

int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Only this process's boxes: the other test programs share the desktop.
BOOL CALLBACK MarkVisibleDialog(HWND wnd, LPARAM found) {
    wchar_t cls[64] = {};
    GetClassNameW(wnd, cls, 64);
    DWORD owner = 0;
    GetWindowThreadProcessId(wnd, &owner);
    if (owner == GetCurrentProcessId() && IsWindowVisible(wnd) && std::wstring(cls) == L"#32770")
        *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

bool AnyDialogVisible() {
    bool found = false;
    EnumWindows(MarkVisibleDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The three ways a launch can wait.
enum class Mode { FullStop, ProcessMessages, Background };

const char* Name(Mode mode) {
    switch (mode) {
        case Mode::FullStop:
            return "wtFullStop";
        case Mode::ProcessMessages:
            return "wtProcessMessages";
        case Mode::Background:
            return "background";
    }
    return "?";
}

void SetMode(TProcessLauncher& launcher, Mode mode) {
    launcher.SetWaitUntilFinished(mode != Mode::Background);
    launcher.SetWaitType(mode == Mode::ProcessMessages ? TProcessWaitType::wtProcessMessages
                                                       : TProcessWaitType::wtFullStop);
}

// Counts every event a launcher raises.
struct EventLog {
    int finished = 0;
    int timeouts = 0;
    int errors = 0;
    std::uint32_t errorCode = 0xDEAD;

    void Attach(TProcessLauncher& launcher) {
        launcher.OnFinished = [this](TObject*) { ++finished; };
        launcher.OnTimeout = [this](TObject*) { ++timeouts; };
        launcher.OnError = [this](TObject*, std::uint32_t code) {
            ++errors;
            errorCode = code;
        };
    }
    int Total() const { return finished + timeouts + errors; }
};

TEST(ProcessLauncher, DefaultsAreThoseOfANewLauncher) {
    TProcessLauncher launcher;
    EXPECT_EQ(launcher.Action(), L"Open");
    EXPECT_EQ(launcher.Timeout(), -1);
    EXPECT_EQ(launcher.WaitType(), TProcessWaitType::wtFullStop);
    EXPECT_EQ(launcher.ShowMode(), TShowMode::smNormal);
    EXPECT_FALSE(launcher.WaitUntilFinished());
    EXPECT_FALSE(launcher.Running());
    EXPECT_EQ(launcher.HProcess(), nullptr);
    EXPECT_EQ(launcher.HInstance(), 0u);
    EXPECT_EQ(launcher.ExitCode(), 0u);
    EXPECT_TRUE(launcher.FileName().empty() && launcher.Parameters().empty() && launcher.StartDir().empty());
}

TEST(ProcessLauncher, FinishedCarriesExitCodeWhileRunningInEveryMode) {
    for (Mode mode : {Mode::FullStop, Mode::ProcessMessages, Mode::Background}) {
        SCOPED_TRACE(Name(mode));
        ScratchDir dir(L"launcher_finished");
        const std::wstring record = dir / L"record.txt";
        TProcessLauncher launcher;
        SetMode(launcher, mode);
        launcher.SetFileName(ExitAfter());
        ChildHold hold;
        const std::wstring holding = mode == Mode::Background ? hold.Option() : L"";
        launcher.SetParameters(L"/silent --exit-code=3 --after-ms=800 --record=" + Quoted(record) + holding);
        EventLog log;
        log.Attach(launcher);
        std::uint32_t exitInside = 0;
        bool runningInside = false;
        bool handleOpenInside = false;
        HANDLE handleInside = nullptr;
        DWORD threadInside = 0;
        launcher.OnFinished = [&](TObject* sender) {
            EXPECT_EQ(sender, &launcher);
            ++log.finished;
            exitInside = launcher.ExitCode();
            runningInside = launcher.Running();
            handleInside = launcher.HProcess();
            handleOpenInside = HandleIsOpen(handleInside);
            threadInside = GetCurrentThreadId();
        };

        const ULONGLONG start = GetTickCount64();
        launcher.Launch();
        const ULONGLONG launchMs = GetTickCount64() - start;
        if (mode == Mode::Background) {
            // Returns while the process runs: the child cannot end before the hold is released.
            EXPECT_TRUE(launcher.Running());
            PumpUntil([] { return false; }, 100);
            EXPECT_EQ(log.finished, 0);
            hold.Release();
            ASSERT_TRUE(PumpUntil([&] { return log.finished == 1 && !launcher.Running(); }));
        } else {
            EXPECT_GE(launchMs, 700u);
        }
        EXPECT_EQ(log.finished, 1);
        EXPECT_EQ(log.timeouts + log.errors, 0);
        EXPECT_EQ(exitInside, 3u);
        EXPECT_EQ(launcher.ExitCode(), 3u);
        EXPECT_TRUE(runningInside);
        EXPECT_TRUE(handleOpenInside);
        EXPECT_EQ(threadInside, GetCurrentThreadId());  // events arrive on the UI thread
        EXPECT_FALSE(launcher.Running());
        EXPECT_FALSE(HandleIsOpen(handleInside));
        EXPECT_EQ(launcher.HProcess(), nullptr);
        EXPECT_GT(launcher.HInstance(), 32u);
        const std::string recorded = test::ReadFileRaw(record);
        EXPECT_EQ(CountOf(recorded, "cmdline="), 1);
        EXPECT_NE(recorded.find(" /silent"), std::string::npos) << recorded;
    }
}

TEST(ProcessLauncher, StartsProgramNamedWithoutExtensionInStartDir) {
    ScratchDir dir(L"launcher_noext");
    ASSERT_TRUE(CopyFileW(ExitAfter().c_str(), (dir / L"DataUpdate.exe").c_str(), FALSE));
    const std::wstring record = dir / L"record.txt";
    TProcessLauncher launcher;
    SetMode(launcher, Mode::ProcessMessages);
    launcher.SetFileName(dir / L"DataUpdate");
    launcher.SetParameters(L"--exit-code=7 --record=" + Quoted(record));
    std::wstring startDir = dir.Path();
    startDir.pop_back();  // the working directory is reported without the trailing backslash
    launcher.SetStartDir(startDir);
    EventLog log;
    log.Attach(launcher);
    launcher.Launch();
    EXPECT_EQ(log.finished, 1);
    EXPECT_EQ(log.errors, 0);
    EXPECT_EQ(launcher.ExitCode(), 7u);
    const std::wstring cwd = L"cwd=" + startDir;
    const std::string recorded = test::ReadFileRaw(record);
    EXPECT_NE(recorded.find(std::string(cwd.begin(), cwd.end())), std::string::npos) << recorded;
}

TEST(ProcessLauncher, MissingFileRaisesOnlyOnErrorWithTwo) {
    for (Mode mode : {Mode::FullStop, Mode::ProcessMessages, Mode::Background}) {
        SCOPED_TRACE(Name(mode));
        ScratchDir dir(L"launcher_missing");
        TProcessLauncher launcher;
        SetMode(launcher, mode);
        launcher.SetFileName(dir / L"missing.exe");
        EventLog log;
        log.Attach(launcher);
        launcher.Launch();
        if (mode == Mode::Background) {
            ASSERT_TRUE(PumpUntil([&] { return log.errors == 1; }));
        }
        EXPECT_EQ(log.errors, 1);
        EXPECT_EQ(log.errorCode, 2u);
        EXPECT_EQ(log.finished + log.timeouts, 0);
        EXPECT_FALSE(launcher.Running());
        EXPECT_EQ(launcher.HProcess(), nullptr);
        EXPECT_EQ(launcher.ExitCode(), 0u);
        EXPECT_EQ(launcher.HInstance(), 0u);
    }
}

TEST(ProcessLauncher, MissingFileWithoutOnErrorShowsNothing) {
    ScratchDir dir(L"launcher_missing_quiet");
    TProcessLauncher launcher;
    SetMode(launcher, Mode::ProcessMessages);
    launcher.SetFileName(dir / L"missing.exe");
    int finished = 0;
    launcher.OnFinished = [&](TObject*) { ++finished; };
    const ULONGLONG start = GetTickCount64();
    launcher.Launch();
    // A shell message box would be modal and hold Launch until someone closed it.
    EXPECT_LT(GetTickCount64() - start, 3000u);
    EXPECT_FALSE(AnyDialogVisible());
    EXPECT_EQ(finished, 0);
    EXPECT_FALSE(launcher.Running());
}

TEST(ProcessLauncher, EmptyFileNameDoesNothing) {
    for (Mode mode : {Mode::FullStop, Mode::ProcessMessages, Mode::Background}) {
        SCOPED_TRACE(Name(mode));
        TProcessLauncher launcher;
        SetMode(launcher, mode);
        launcher.SetParameters(L"--exit-code=3");
        EventLog log;
        log.Attach(launcher);
        launcher.Launch();
        EXPECT_EQ(launcher.Execute(), 0u);
        PumpUntil([] { return false; }, 200);
        EXPECT_EQ(log.Total(), 0);
        EXPECT_FALSE(launcher.Running());
        EXPECT_EQ(launcher.HProcess(), nullptr);
        EXPECT_EQ(launcher.HInstance(), 0u);
    }
}

TEST(ProcessLauncher, ZeroTimeoutTimesOutAtOnceAndTheChildRunsOn) {
    for (Mode mode : {Mode::FullStop, Mode::Background}) {
        SCOPED_TRACE(Name(mode));
        TProcessLauncher launcher;
        SetMode(launcher, mode);
        launcher.SetTimeout(0);
        launcher.SetFileName(ExitAfter());
        ChildHold hold;
        launcher.SetParameters(L"--exit-code=4" + hold.Option());
        EventLog log;
        log.Attach(launcher);
        unique_handle child;
        launcher.OnTimeout = [&](TObject*) {
            ++log.timeouts;
            EXPECT_TRUE(launcher.Running());
            child = Duplicate(launcher.HProcess());
        };
        launcher.Launch();
        if (mode == Mode::Background) {
            ASSERT_TRUE(PumpUntil([&] { return log.timeouts == 1 && !launcher.Running(); }));
        }
        // Timed out while the held child still ran: at once, not at its end.
        EXPECT_EQ(log.timeouts, 1);
        EXPECT_EQ(log.finished + log.errors, 0);
        EXPECT_FALSE(launcher.Running());
        EXPECT_EQ(launcher.ExitCode(), 0u);
        ASSERT_TRUE(child);
        EXPECT_EQ(WaitForSingleObject(child.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));  // still running
        hold.Release();
        ASSERT_EQ(WaitForSingleObject(child.get(), 10000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(child.get(), &code);
        EXPECT_EQ(code, 4u);  // it ran to its own end
        PumpUntil([] { return false; }, 200);
        EXPECT_EQ(log.finished, 0);
    }
}

// A thread timer of the test thread that counts its firings while it lives.
class BusyTimer {
public:
    explicit BusyTimer(UINT ms) {
        s_fired = 0;
        id_ = SetTimer(nullptr, 0, ms, Count);
    }
    ~BusyTimer() { KillTimer(nullptr, id_); }
    static int Fired() { return s_fired; }

private:
    static void CALLBACK Count(HWND, UINT, UINT_PTR, DWORD) { ++s_fired; }
    static inline int s_fired = 0;
    UINT_PTR id_;
};

TEST(ProcessLauncher, UnlimitedTimeoutWaitsForTheEndDespiteActivity) {
    TProcessLauncher launcher;
    SetMode(launcher, Mode::ProcessMessages);
    launcher.SetFileName(ExitAfter());
    launcher.SetParameters(L"--exit-code=9 --after-ms=1500");
    EventLog log;
    log.Attach(launcher);
    BusyTimer timer(30);
    const ULONGLONG start = GetTickCount64();
    launcher.Launch();
    EXPECT_GE(GetTickCount64() - start, 1400u);
    EXPECT_EQ(log.finished, 1);
    EXPECT_EQ(log.timeouts + log.errors, 0);
    EXPECT_EQ(launcher.ExitCode(), 9u);
    EXPECT_GT(BusyTimer::Fired(), 5);
}

TEST(ProcessLauncher, FiniteTimeoutEndsOnTimeDespiteBusyTimer) {
    TProcessLauncher launcher;
    SetMode(launcher, Mode::ProcessMessages);
    launcher.SetTimeout(400);
    launcher.SetFileName(ExitAfter());
    launcher.SetParameters(L"--after-ms=5000");
    EventLog log;
    log.Attach(launcher);
    unique_handle child;
    launcher.OnTimeout = [&](TObject*) {
        ++log.timeouts;
        child = Duplicate(launcher.HProcess());
    };
    BusyTimer timer(20);  // wakes the wait far more often than the limit
    const ULONGLONG start = GetTickCount64();
    launcher.Launch();
    const ULONGLONG waited = GetTickCount64() - start;
    EXPECT_GE(waited, 380u);
    EXPECT_LT(waited, 2500u);
    EXPECT_EQ(log.timeouts, 1);
    EXPECT_EQ(log.finished + log.errors, 0);
    EXPECT_GT(BusyTimer::Fired(), 3);
    ASSERT_TRUE(child);
    TerminateProcess(child.get(), 0);
}

// A visible window of the test thread that counts its paints and its posted messages.
class TestWindow {
public:
    static constexpr UINT kPing = WM_APP + 5;

    TestWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"LauncherTestWindow";
        RegisterClassW(&wc);
        wnd_ = CreateWindowExW(0, wc.lpszClassName, L"launcher test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                               120, nullptr, nullptr, wc.hInstance, this);
        UpdateWindow(wnd_);
        // Nothing may be pending from the window's creation when a test begins.
        PumpUntil([] { return false; }, 100);
        paints = 0;
    }
    ~TestWindow() { DestroyWindow(wnd_); }
    HWND Handle() const { return wnd_; }

    int paints = 0;
    std::function<void()> onPing;

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrW(wnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
        auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
        if (self && msg == WM_PAINT) {
            PAINTSTRUCT ps;
            BeginPaint(wnd, &ps);
            EndPaint(wnd, &ps);
            ++self->paints;
            return 0;
        }
        if (self && msg == kPing) {
            if (self->onPing)
                self->onPing();
            return 0;
        }
        return DefWindowProcW(wnd, msg, wp, lp);
    }

    HWND wnd_ = nullptr;
};

TEST(ProcessLauncher, ProcessingWaitServesTimersAndPaintWithoutPostedMessages) {
    struct Case {
        const char* name;
        bool timer;
        bool invalidate;
    };
    for (const Case& c : {Case{"timer", true, false}, Case{"paint", false, true}}) {
        SCOPED_TRACE(c.name);
        TestWindow window;
        TProcessLauncher launcher;
        SetMode(launcher, Mode::ProcessMessages);
        launcher.SetFileName(ExitAfter());
        launcher.SetParameters(L"--after-ms=1200");
        int paintsDuringWait = -1;
        int timerDuringWait = -1;
        launcher.OnFinished = [&](TObject*) {
            paintsDuringWait = window.paints;
            timerDuringWait = BusyTimer::Fired();
        };
        std::unique_ptr<BusyTimer> timer;
        if (c.timer)
            timer = std::make_unique<BusyTimer>(100);
        // Invalidating from another thread marks the window for painting and posts nothing.
        std::thread painter;
        if (c.invalidate) {
            painter = std::thread([wnd = window.Handle()] {
                for (int i = 0; i < 10; ++i) {
                    Sleep(100);
                    InvalidateRect(wnd, nullptr, FALSE);
                }
            });
        }
        launcher.Launch();
        if (painter.joinable())
            painter.join();
        // Under Wine the wait is also woken now and then by the system's own messages, so a single
        // timer tick or paint proves nothing: each one must be served as it comes.
        if (c.timer) {
            EXPECT_GE(timerDuringWait, 6);
        }
        if (c.invalidate) {
            EXPECT_GE(paintsDuringWait, 5);
        }
    }
}

TEST(ProcessLauncher, PostedMessagesRunAndLaunchOnTheRunningLauncherIsIgnored) {
    ScratchDir dir(L"launcher_reentry");
    const std::wstring record = dir / L"record.txt";
    TestWindow window;
    TProcessLauncher launcher;
    SetMode(launcher, Mode::ProcessMessages);
    launcher.SetFileName(ExitAfter());
    ChildHold hold;
    launcher.SetParameters(L"--exit-code=2 --record=" + Quoted(record) + hold.Option());
    EventLog log;
    log.Attach(launcher);
    bool pinged = false;
    bool returnedWhileRunning = false;
    window.onPing = [&] {
        pinged = true;
        EXPECT_TRUE(launcher.Running());
        EXPECT_EQ(log.finished, 0);
        launcher.Launch();
        // Ignored, not waited out: the held child still runs.
        returnedWhileRunning = launcher.Running() && log.finished == 0;
        hold.Release();
    };
    std::thread poster([wnd = window.Handle()] {
        Sleep(300);
        PostMessageW(wnd, TestWindow::kPing, 0, 0);
    });
    launcher.Launch();
    poster.join();
    EXPECT_TRUE(pinged);
    EXPECT_TRUE(returnedWhileRunning);
    EXPECT_EQ(log.finished, 1);
    EXPECT_EQ(launcher.ExitCode(), 2u);
    EXPECT_EQ(CountOf(test::ReadFileRaw(record), "cmdline="), 1);  // no second child was started
}

TEST(ProcessLauncher, NestedLaunchFromOnFinishedClosesTheInnerHandleFirst) {
    TProcessLauncher outer;
    TProcessLauncher inner;
    for (TProcessLauncher* l : {&outer, &inner}) {
        SetMode(*l, Mode::ProcessMessages);
        l->SetFileName(ExitAfter());
    }
    outer.SetParameters(L"--exit-code=1 --after-ms=200");
    inner.SetParameters(L"--exit-code=5 --after-ms=200");
    std::vector<std::string> steps;
    HANDLE outerHandle = nullptr;
    HANDLE innerHandle = nullptr;
    inner.OnFinished = [&](TObject*) {
        steps.push_back("inner finished");
        innerHandle = inner.HProcess();
        EXPECT_TRUE(outer.Running() && inner.Running());
        EXPECT_EQ(inner.ExitCode(), 5u);
    };
    outer.OnFinished = [&](TObject*) {
        steps.push_back("outer finished");
        outerHandle = outer.HProcess();
        inner.Launch();
        steps.push_back("inner returned");
        EXPECT_FALSE(inner.Running());
        EXPECT_FALSE(HandleIsOpen(innerHandle));
        EXPECT_TRUE(outer.Running());
        EXPECT_TRUE(HandleIsOpen(outerHandle));
        EXPECT_EQ(outer.ExitCode(), 1u);
    };
    outer.Launch();
    EXPECT_EQ(steps, (std::vector<std::string>{"outer finished", "inner finished", "inner returned"}));
    EXPECT_FALSE(outer.Running());
    EXPECT_FALSE(HandleIsOpen(outerHandle));
}

TEST(ProcessLauncher, QuitRequestDoesNotEndTheWaitAndIsKeptForTheMainLoop) {
    TestWindow window;
    TProcessLauncher launcher;
    SetMode(launcher, Mode::ProcessMessages);
    launcher.SetFileName(ExitAfter());
    launcher.SetParameters(L"--after-ms=800");
    EventLog log;
    log.Attach(launcher);
    window.onPing = [] { PostQuitMessage(42); };
    PostMessageW(window.Handle(), TestWindow::kPing, 0, 0);
    const ULONGLONG start = GetTickCount64();
    launcher.Launch();
    EXPECT_GE(GetTickCount64() - start, 700u);
    EXPECT_EQ(log.finished, 1);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 42u);
}

TEST(ProcessLauncher, HandlerExceptionEndsTheWaitAndTheHandleIsClosed) {
    for (Mode mode : {Mode::FullStop, Mode::ProcessMessages, Mode::Background}) {
        SCOPED_TRACE(Name(mode));
        TProcessLauncher launcher;
        SetMode(launcher, mode);
        launcher.SetFileName(ExitAfter());
        HANDLE handle = nullptr;
        bool thrown = false;
        launcher.OnFinished = [&](TObject*) {
            handle = launcher.HProcess();
            thrown = true;
            throw std::runtime_error("handler failed");
        };
        EXPECT_NO_THROW(launcher.Launch());
        if (mode == Mode::Background) {
            ASSERT_TRUE(PumpUntil([&] { return thrown && !launcher.Running(); }));
        }
        EXPECT_TRUE(thrown);
        EXPECT_FALSE(launcher.Running());
        EXPECT_FALSE(HandleIsOpen(handle));
    }
}

TEST(ProcessLauncher, BackgroundLaunchAfterAFailedStartWaitsForItsOwnStart) {
    ScratchDir dir(L"launcher_after_failure");
    TProcessLauncher launcher;
    SetMode(launcher, Mode::Background);
    EventLog log;
    log.Attach(launcher);
    launcher.SetFileName(dir / L"missing.exe");
    launcher.Launch();
    ASSERT_TRUE(PumpUntil([&] { return log.errors == 1; }));
    launcher.SetFileName(ExitAfter());
    launcher.SetParameters(L"--after-ms=1000");
    launcher.Launch();
    EXPECT_TRUE(launcher.Running());  // the earlier error value did not end the poll early
    ASSERT_TRUE(PumpUntil([&] { return log.finished == 1 && !launcher.Running(); }));
    EXPECT_EQ(log.errors, 1);
}

TEST(ProcessLauncher, BackgroundLaunchReturnsForChildrenThatEndAtOnce) {
    TProcessLauncher launcher;
    SetMode(launcher, Mode::Background);
    launcher.SetFileName(ExitAfter());
    launcher.SetParameters(L"--exit-code=6");
    int finished = 0;
    launcher.OnFinished = [&](TObject*) { ++finished; };
    for (int i = 0; i < 20; ++i) {
        launcher.Launch();  // would poll for ever if it only watched Running and the error value
        ASSERT_TRUE(PumpUntil([&] { return finished == i + 1 && !launcher.Running(); })) << i;
        EXPECT_EQ(launcher.ExitCode(), 6u);
    }
}

// Answers the shell call itself: shows the record the launcher fills, and fails as asked.
class RecordingLauncher : public TProcessLauncher {
public:
    SHELLEXECUTEINFOW seen{};
    bool fail = true;
    std::uintptr_t failValue = 0;
    DWORD failSystemCode = ERROR_SUCCESS;  // left as the thread's last error; none by default
    int calls = 0;

protected:
    BOOL CallShellExecute(SHELLEXECUTEINFOW& info) override {
        ++calls;
        seen = info;
        if (fail) {
            info.hInstApp = reinterpret_cast<HINSTANCE>(failValue);
            if (failSystemCode != ERROR_SUCCESS)
                SetLastError(failSystemCode);
            return FALSE;
        }
        return TProcessLauncher::CallShellExecute(info);
    }
};

TEST(ProcessLauncher, ShellRecordCarriesMaskTextsAndShowCommand) {
    struct Case {
        TShowMode mode;
        int show;
    };
    const Case cases[] = {
        {TShowMode::smNormal, SW_SHOWNORMAL},
        {TShowMode::smMaximized, SW_SHOWMAXIMIZED},
        {TShowMode::smMinimized, SW_SHOWMINNOACTIVE},
        {TShowMode::smHide, SW_HIDE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        RecordingLauncher launcher;
        SetMode(launcher, Mode::FullStop);
        launcher.SetShowMode(c.mode);
        launcher.SetFileName(L"C:\\Memoline5Server\\DataUpdate");
        launcher.failValue = 31;
        EventLog log;
        log.Attach(launcher);
        launcher.Launch();
        const SHELLEXECUTEINFOW& r = launcher.seen;
        EXPECT_EQ(r.cbSize, sizeof(SHELLEXECUTEINFOW));
        EXPECT_EQ(r.fMask, 0x540u);
        EXPECT_EQ(r.hwnd, nullptr);  // no owner was set
        EXPECT_EQ(r.nShow, c.show);
        // Empty values go as empty strings, never as null pointers.
        ASSERT_TRUE(r.lpVerb && r.lpFile && r.lpParameters && r.lpDirectory);
        EXPECT_STREQ(r.lpVerb, L"Open");
        EXPECT_STREQ(r.lpFile, L"C:\\Memoline5Server\\DataUpdate");  // no extension added, no quotes
        EXPECT_STREQ(r.lpParameters, L"");
        EXPECT_STREQ(r.lpDirectory, L"");
        EXPECT_EQ(log.errors, 1);
        EXPECT_EQ(log.errorCode, 31u);
        EXPECT_EQ(log.finished, 0);
    }
}

// A declined consent prompt leaves only hInstApp's generic value; the system's code, the real cause,
// is what OnError and Execute report, and the prompt is owned by the window the caller names.
TEST(ProcessLauncher, AFailedStartReportsTheSystemsCodeAndTheRecordNamesTheOwner) {
    const unique_hwnd owner(
        CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(owner);
    for (Mode mode : {Mode::FullStop, Mode::Background}) {
        SCOPED_TRACE(Name(mode));
        RecordingLauncher launcher;
        SetMode(launcher, mode);
        launcher.SetFileName(L"setup.exe");
        launcher.SetOwnerWindow(owner.get());
        launcher.failValue = SE_ERR_ACCESSDENIED;
        launcher.failSystemCode = ERROR_CANCELLED;
        EventLog log;
        log.Attach(launcher);
        launcher.Launch();
        ASSERT_TRUE(PumpUntil([&] { return log.errors == 1; }));
        EXPECT_EQ(log.errorCode, 1223u);
        EXPECT_EQ(launcher.seen.hwnd, owner.get());
    }
    RecordingLauncher launcher;
    launcher.SetFileName(L"setup.exe");
    launcher.failValue = SE_ERR_ACCESSDENIED;
    launcher.failSystemCode = ERROR_CANCELLED;
    EXPECT_EQ(launcher.Execute(), 1223u);
    launcher.failSystemCode = ERROR_SUCCESS;  // a shell that gives only hInstApp: that value, then
    EXPECT_EQ(launcher.Execute(), 5u);
}

TEST(ProcessLauncher, BackgroundStartFailingWithZeroStillReturns) {
    RecordingLauncher launcher;
    SetMode(launcher, Mode::Background);
    launcher.SetFileName(L"anything.exe");
    launcher.failValue = 0;  // neither Running nor a non-zero error value will show the end
    EventLog log;
    log.Attach(launcher);
    launcher.Launch();
    ASSERT_TRUE(PumpUntil([&] { return log.errors == 1; }));
    EXPECT_EQ(log.errorCode, 0u);
    EXPECT_EQ(log.finished + log.timeouts, 0);
    EXPECT_FALSE(launcher.Running());
}

TEST(ProcessLauncher, DestroyingALauncherWhileItsWorkerWaitsIsSafe) {
    int events = 0;
    const int kRounds = 200;
    // The launcher lives in storage that is poisoned after each destruction, so a worker or a late
    // notification that still used it would crash or raise an event here.
    alignas(TProcessLauncher) static unsigned char storage[sizeof(TProcessLauncher)];
    for (int i = 0; i < kRounds; ++i) {
        auto* launcher = new (storage) TProcessLauncher;
        SetMode(*launcher, Mode::Background);
        launcher->SetFileName(ExitAfter());
        const bool endFirst = i % 2 == 1;
        launcher->SetParameters(endFirst ? L"--after-ms=0" : L"--after-ms=400");
        launcher->OnFinished = [&](TObject*) { ++events; };
        launcher->OnError = [&](TObject*, std::uint32_t) { ++events; };
        launcher->Launch();
        ASSERT_TRUE(launcher->Running());
        if (endFirst) {
            // No messages are processed here, so once the child has ended the worker sees it at its
            // next poll and blocks in the notification call until the launcher is gone.
            unique_handle child = Duplicate(launcher->HProcess());
            ASSERT_EQ(WaitForSingleObject(child.get(), 10000), WAIT_OBJECT_0);
            Sleep(150 + (i % 3) * 20);
        } else {
            Sleep((i % 3) * 40);  // the worker is polling a child that runs on
        }
        launcher->~TProcessLauncher();
        memset(storage, 0xDD, sizeof(storage));
    }
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(events, 0);  // a destroyed launcher raises nothing, not even from a worker that was blocked
}

TEST(ProcessLauncher, OwnerFreesALauncherWithARunningWorker) {
    auto* owner = new TComponent;
    auto* launcher = new TProcessLauncher(owner);
    SetMode(*launcher, Mode::Background);
    launcher->SetFileName(ExitAfter());
    launcher->SetParameters(L"--after-ms=300");
    EventLog log;
    log.Attach(*launcher);
    launcher->Launch();
    EXPECT_TRUE(launcher->Running());
    unique_handle child = Duplicate(launcher->HProcess());
    delete owner;
    // The child's end is what the freed launcher's worker would have reported: after it, and after the
    // messages that a late notification would have posted, nothing has come.
    ASSERT_EQ(WaitForSingleObject(child.get(), 10000), WAIT_OBJECT_0);
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(log.Total(), 0);
}

TEST(ProcessLauncher, ErrorMessages) {
    struct Case {
        std::uint32_t code;
        const wchar_t* text;
    };
    const Case cases[] = {
        {0, L"Out of memory or executable file is corrupt"},
        {2, L"File was not found"},
        {3, L"Path was not found"},
        {5, L"Sharing violation or netword error"},
        {16, L"Cannot load a second instance of an executable file containing multiple, non-read-only data segments"},
        {31, L"No association for specified file type"},
        {1, L"Unknown Error"},
        {26, L"Unknown Error"},
        {32, L"Unknown Error"},
        {0xFFFFFFFFu, L"Unknown Error"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TProcessLauncher::GetErrorMsg(c.code), c.text) << c.code;
}

TEST(ProcessLauncher, ExecuteStartsWithoutWaitingAndLeavesTheHandle) {
    TProcessLauncher launcher;
    launcher.SetWaitUntilFinished(true);
    launcher.SetFileName(ExitAfter());
    ChildHold hold;
    launcher.SetParameters(L"--exit-code=5" + hold.Option());
    EventLog log;
    log.Attach(launcher);
    EXPECT_EQ(launcher.Execute(), 0u);
    EXPECT_FALSE(launcher.Running());
    unique_handle process(launcher.HProcess());  // the caller owns it
    ASSERT_TRUE(process);
    // Returned without waiting: the held child still runs.
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    hold.Release();
    EXPECT_GT(launcher.HInstance(), 32u);
    ASSERT_EQ(WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 5u);
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(log.Total(), 0);
    EXPECT_EQ(launcher.ExitCode(), 0u);

    ScratchDir dir(L"launcher_execute_missing");
    launcher.SetFileName(dir / L"missing.exe");
    EXPECT_EQ(launcher.Execute(), 2u);
    EXPECT_EQ(launcher.HProcess(), nullptr);
    EXPECT_EQ(log.Total(), 0);
}

TEST(ProcessLauncher, GetWindowHandleFindsTheChildsTopLevelWindow) {
    TProcessLauncher launcher;
    EXPECT_EQ(launcher.GetWindowHandle(), nullptr);
    launcher.SetFileName(WindowChild());
    launcher.SetParameters(L"--title=\"Launcher window 17\" --exit-code=8");
    ASSERT_EQ(launcher.Execute(), 0u);
    unique_handle process(launcher.HProcess());
    ASSERT_TRUE(process);
    WaitForInputIdle(process.get(), 5000);
    HWND found = nullptr;
    PumpUntil([&] { return (found = launcher.GetWindowHandle()) != nullptr; }, 5000);
    ASSERT_NE(found, nullptr);
    wchar_t title[64] = {};
    GetWindowTextW(found, title, 64);
    EXPECT_STREQ(title, L"Launcher window 17");
    EXPECT_EQ(GetParent(found), nullptr);
    DWORD pid = 0;
    GetWindowThreadProcessId(found, &pid);
    EXPECT_EQ(pid, GetProcessId(process.get()));
    PostMessageW(found, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 8u);
}

}  // namespace
}  // namespace memoline
