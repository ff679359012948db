// Runs a call that may wait on the network or another machine on a worker thread while the UI thread
// keeps handling its messages, until the call is done or the waiting side gives it up.
//
// A given-up (abandoned) call is not stopped: its worker finishes the call on its own, then ends. So
// the work must own everything it touches: it holds its inputs and outputs in a shared object that
// the lambda captures by value (std::shared_ptr), never the caller's locals or members, and it must
// not call back into the UI thread (no Synchronize). What it captures is destroyed on the worker when
// the call returns.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "core/MessagePump.h"

namespace memoline::core {

enum class TWorkerCallEnd {
    Done,       // the work has returned (an exception it threw is raised again in the caller)
    Abandoned,  // the wait was given up; the worker finishes the work on its own
};

struct TWorkerWait {
    // Under StopAndRepost a quit request abandons the call (and is posted again); under
    // HoldUntilWaitEnds it is held back and posted when the call is done.
    TQuitPolicy quitPolicy = TQuitPolicy::StopAndRepost;
    // Asked after every wake of the wait (messages handled, or checkInterval passed); true abandons
    // the call. A cancel flag or a deadline goes here.
    std::function<bool()> abandon;
    DWORD checkIntervalMs = 50;
    // When set, the wait also wakes when this event is signalled, so that `abandon` can take at once
    // what the work has handed over so far (a stream read ahead, for example).
    HANDLE wakeOn = nullptr;
};

// One worker thread that runs calls one after another, started on the first call. A worker whose
// call was abandoned is left to end by itself, and the next call starts a fresh one.
class TWorkerCaller {
public:
    TWorkerCaller();
    ~TWorkerCaller();
    TWorkerCaller(const TWorkerCaller&) = delete;
    TWorkerCaller& operator=(const TWorkerCaller&) = delete;

    // On the UI thread: runs `work` on the worker and handles messages until it is done or abandoned.
    // Abandoned at once, without running, when `wait.abandon` is already true.
    TWorkerCallEnd Run(std::function<void()> work, const TWorkerWait& wait = {});

    struct TWorker;

private:
    std::shared_ptr<TWorker> worker_;
};

// A single call on a worker of its own (for calls that are not repeated in a loop).
TWorkerCallEnd RunOnWorker(std::function<void()> work, const TWorkerWait& wait = {});

}  // namespace memoline::core
