#include "core/WorkerCall.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace memoline::core {

// Shared by the caller and the worker thread; the thread's reference keeps it alive after the caller
// has let go of an abandoned call.
struct TWorkerCaller::TWorker {
    std::mutex lock;
    std::condition_variable wake;
    std::function<void()> job;
    bool stop = false;
    bool busy = false;
    std::exception_ptr error;
    HANDLE done = nullptr;  // auto reset: set once per finished job

    TWorker() : done(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        if (!done)
            throw std::runtime_error("The worker's event cannot be made");
    }
    ~TWorker() { CloseHandle(done); }

    static void Loop(const std::shared_ptr<TWorker>& self) {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> guard(self->lock);
                self->wake.wait(guard, [&] { return self->stop || self->job; });
                if (!self->job)
                    return;  // stopped with nothing to do
                work = std::move(self->job);
                self->job = nullptr;
            }
            std::exception_ptr error;
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
            work = nullptr;  // the captured state goes here, on the worker
            std::lock_guard<std::mutex> guard(self->lock);
            self->error = error;
            SetEvent(self->done);
            if (self->stop)
                return;
        }
    }
};

namespace {

using TWorker = TWorkerCaller::TWorker;

std::shared_ptr<TWorker> StartWorker() {
    auto worker = std::make_shared<TWorker>();
    std::thread([worker] { TWorker::Loop(worker); }).detach();
    return worker;
}

void StopWorker(TWorker& worker) {
    std::lock_guard<std::mutex> guard(worker.lock);
    worker.stop = true;
    worker.wake.notify_one();
}

// Handles messages until the worker's job is done (true) or the wait is given up (false).
bool WaitForJob(TWorker& worker, const TWorkerWait& wait) {
    TQuitHold hold;
    const HANDLE handles[] = {worker.done, wait.wakeOn};
    const DWORD count = wait.wakeOn ? 2 : 1;
    for (;;) {
        DWORD r = MsgWaitForMultipleObjectsEx(count, handles, wait.checkIntervalMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0)
            return true;
        // Messages are handled after every wake by `wakeOn` too: it may stay set while the work hands
        // over piece after piece, and a click between two pieces must not wait for the last.
        const bool messages = r == WAIT_OBJECT_0 + count || (wait.wakeOn && r == WAIT_OBJECT_0 + 1);
        if (messages && ProcessPendingMessages(wait.quitPolicy, &hold).quit &&
            wait.quitPolicy == TQuitPolicy::StopAndRepost)
            return false;
        if (r == WAIT_FAILED)
            Sleep(1);  // never spin: the wait is asked again
        if (WaitForSingleObject(worker.done, 0) == WAIT_OBJECT_0)
            return true;
        if (wait.abandon && wait.abandon())
            return false;
    }
}

}  // namespace

TWorkerCaller::TWorkerCaller() = default;

TWorkerCaller::~TWorkerCaller() {
    if (worker_)
        StopWorker(*worker_);
}

TWorkerCallEnd TWorkerCaller::Run(std::function<void()> work, const TWorkerWait& wait) {
    if (wait.abandon && wait.abandon())
        return TWorkerCallEnd::Abandoned;
    // A call made by a handler that runs during another call's wait gets a worker of its own.
    std::shared_ptr<TWorker> worker = worker_ && !worker_->busy ? worker_ : StartWorker();
    if (!worker_)
        worker_ = worker;
    {
        std::lock_guard<std::mutex> guard(worker->lock);
        worker->busy = true;
        worker->error = nullptr;
        worker->job = std::move(work);
        worker->wake.notify_one();
    }
    if (!WaitForJob(*worker, wait)) {
        StopWorker(*worker);
        if (worker_ == worker)
            worker_.reset();
        return TWorkerCallEnd::Abandoned;
    }
    worker->busy = false;
    std::exception_ptr error;
    {
        std::lock_guard<std::mutex> guard(worker->lock);
        error = std::exchange(worker->error, nullptr);
    }
    if (worker != worker_)
        StopWorker(*worker);
    if (error)
        std::rethrow_exception(error);
    return TWorkerCallEnd::Done;
}

TWorkerCallEnd RunOnWorker(std::function<void()> work, const TWorkerWait& wait) {
    TWorkerCaller caller;
    return caller.Run(std::move(work), wait);
}

}  // namespace memoline::core
