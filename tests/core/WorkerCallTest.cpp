#include "core/WorkerCall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "tests/support/ResponsivenessProbe.h"

namespace memoline::core {
namespace {

// What a call's work shares with its caller: it outlives an abandoned call.
struct Shared {
    std::atomic<bool> release{false};
    std::atomic<int> result{0};
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Shared() { CloseHandle(gate); }
};

bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!done()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(5);
    }
    return true;
}

TEST(WorkerCall, RunsOffTheUiThreadAndHandlesMessagesMeanwhile) {
    auto shared = std::make_shared<Shared>();
    const DWORD uiThread = GetCurrentThreadId();
    DWORD workThread = 0;
    test::ResponsivenessProbe probe;
    TWorkerCaller caller;
    // The work blocks for 600 ms; the probe's answers come from this thread's wait meanwhile.
    EXPECT_EQ(caller.Run([shared, &workThread] {
        workThread = GetCurrentThreadId();
        Sleep(600);
        shared->result = 42;
    }),
              TWorkerCallEnd::Done);
    EXPECT_EQ(shared->result, 42);
    EXPECT_NE(workThread, uiThread);
    EXPECT_GE(probe.Answers(), 3u);
    EXPECT_LT(probe.LongestStallMs(), 500u);
    // The same worker serves the next call.
    DWORD second = 0;
    caller.Run([&second] { second = GetCurrentThreadId(); });
    EXPECT_EQ(second, workThread);
}

// The work hands something over and waits until the caller has taken it: with the wake event the
// caller looks at once, not only after its check interval (ten seconds here).
TEST(WorkerCall, AWakeEventLetsTheCallerTakeWhatTheWorkHandsOverAtOnce) {
    auto shared = std::make_shared<Shared>();
    HANDLE handedOver = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(handedOver, nullptr);
    TWorkerWait wait;
    wait.checkIntervalMs = 10000;
    wait.wakeOn = handedOver;
    wait.abandon = [&] {
        if (shared->result == 1)
            SetEvent(shared->gate);  // taken: the work may end
        return false;
    };
    const ULONGLONG start = GetTickCount64();
    TWorkerCaller caller;
    EXPECT_EQ(caller.Run(
                  [shared, handedOver] {
                      shared->result = 1;
                      SetEvent(handedOver);
                      WaitForSingleObject(shared->gate, 20000);
                  },
                  wait),
              TWorkerCallEnd::Done);
    EXPECT_LT(GetTickCount64() - start, 5000u) << "the caller looked only after its check interval";
    CloseHandle(handedOver);
}

TEST(WorkerCall, CarriesTheWorksExceptionBack) {
    TWorkerCaller caller;
    EXPECT_THROW(caller.Run([] { throw std::runtime_error("lookup failed"); }), std::runtime_error);
    EXPECT_EQ(caller.Run([] {}), TWorkerCallEnd::Done);  // and the worker goes on
}

TEST(WorkerCall, AbandonedCallReturnsAtOnceAndItsWorkerEndsOnItsOwn) {
    auto shared = std::make_shared<Shared>();
    std::weak_ptr<Shared> watch = shared;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, nullptr);  // wakes the wait: a press of Cancel comes as a message
    const ULONGLONG start = GetTickCount64();
    TWorkerWait wait;
    wait.abandon = [start] { return GetTickCount64() - start > 200; };
    TWorkerCaller caller;
    EXPECT_EQ(caller.Run(
                  [shared] {
                      WaitForSingleObject(shared->gate, 10000);
                      shared->result = 1;
                  },
                  wait),
              TWorkerCallEnd::Abandoned);
    EXPECT_LT(GetTickCount64() - start, 1000u);
    KillTimer(nullptr, timer);
    // The work still holds its state; once the blocked call returns the state goes with the worker.
    HANDLE gate = shared->gate;
    shared.reset();
    ASSERT_FALSE(watch.expired());
    SetEvent(gate);
    EXPECT_TRUE(WaitUntil([&] { return watch.expired(); }, 5000));
    // The caller goes on with a fresh worker.
    int after = 0;
    EXPECT_EQ(caller.Run([&after] { after = 7; }), TWorkerCallEnd::Done);
    EXPECT_EQ(after, 7);
    // A call asked to be abandoned before it starts never runs.
    bool ran = false;
    EXPECT_EQ(caller.Run([&ran] { ran = true; }, wait), TWorkerCallEnd::Abandoned);
    EXPECT_FALSE(ran);
}

TEST(WorkerCall, QuitRequestAbandonsOrIsHeldByThePolicy) {
    for (TQuitPolicy policy : {TQuitPolicy::StopAndRepost, TQuitPolicy::HoldUntilWaitEnds}) {
        auto shared = std::make_shared<Shared>();
        PostQuitMessage(3);
        TWorkerWait wait;
        wait.quitPolicy = policy;
        const TWorkerCallEnd end = RunOnWorker(
            [shared] {
                Sleep(300);
                shared->result = 1;
            },
            wait);
        const bool stop = policy == TQuitPolicy::StopAndRepost;
        EXPECT_EQ(end, stop ? TWorkerCallEnd::Abandoned : TWorkerCallEnd::Done);
        EXPECT_EQ(shared->result, stop ? 0 : 1);
        // Either way the request is in the queue again for the application's own loop.
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(msg.wParam, 3u);
    }
}

}  // namespace
}  // namespace memoline::core
