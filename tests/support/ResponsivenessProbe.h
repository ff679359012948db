// Times how long a window takes to answer: a thread of its own sends the window WM_NULL every
// interval and keeps the longest wait for an answer. A window whose thread is stuck in a blocking
// call answers only when the call returns, so the longest wait is the longest stall of that thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

namespace memoline::test {

class ResponsivenessProbe {
public:
    // `window` null: a hidden window of the calling thread (which must be the one to watch).
    explicit ResponsivenessProbe(HWND window = nullptr, DWORD intervalMs = 50);
    ~ResponsivenessProbe();
    ResponsivenessProbe(const ResponsivenessProbe&) = delete;
    ResponsivenessProbe& operator=(const ResponsivenessProbe&) = delete;

    // The longest answer so far in milliseconds, including a send still waiting.
    DWORD LongestStallMs() const;
    // How many answers came.
    unsigned Answers() const { return answers_; }

private:
    void Run();

    HWND window_ = nullptr;
    HWND own_ = nullptr;
    DWORD interval_;
    std::atomic<bool> stop_{false};
    std::atomic<DWORD> longest_{0};
    std::atomic<ULONGLONG> pendingSince_{0};
    std::atomic<unsigned> answers_{0};
    std::atomic<bool> running_{true};
    std::thread thread_;
};

}  // namespace memoline::test
