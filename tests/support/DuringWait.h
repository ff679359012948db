// Runs steps on the UI thread while the code under test waits: one step per tick of a thread timer,
// which only a message loop dispatches, so the steps run inside the wait's own message loop.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace memoline::test {

class DuringWait {
public:
    // With `repeatLast`, the last step runs again at every further tick (an observer).
    explicit DuringWait(std::vector<std::function<void()>> steps, bool repeatLast = false, UINT intervalMs = 100)
        : steps_(std::move(steps)), repeatLast_(repeatLast) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, intervalMs, &DuringWait::Tick);
    }
    ~DuringWait() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    DuringWait(const DuringWait&) = delete;
    DuringWait& operator=(const DuringWait&) = delete;

    // How many steps have run.
    size_t Done() const { return next_; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        DuringWait* self = current_;
        if (!self || self->running_ || self->steps_.empty())
            return;
        if (self->next_ >= self->steps_.size() && !self->repeatLast_)
            return;
        const size_t step = std::min(self->next_, self->steps_.size() - 1);
        self->next_ = std::min(self->next_ + 1, self->steps_.size());
        // A step that pumps messages itself must not run the next step inside it.
        self->running_ = true;
        self->steps_[step]();
        self->running_ = false;
    }

    static inline DuringWait* current_ = nullptr;
    std::vector<std::function<void()>> steps_;
    size_t next_ = 0;
    bool repeatLast_ = false;
    bool running_ = false;
    UINT_PTR timer_ = 0;
};

}  // namespace memoline::test
