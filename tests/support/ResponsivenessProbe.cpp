#include "tests/support/ResponsivenessProbe.h"

#include <algorithm>

namespace memoline::test {

ResponsivenessProbe::ResponsivenessProbe(HWND window, DWORD intervalMs) : window_(window), interval_(intervalMs) {
    if (!window_) {
        own_ = CreateWindowExW(0, L"STATIC", L"probe", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        window_ = own_;
    }
    thread_ = std::thread([this] { Run(); });
}

ResponsivenessProbe::~ResponsivenessProbe() {
    stop_ = true;
    // The thread may wait in a send to this thread's window: answer it while it finishes.
    while (running_) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        Sleep(1);
    }
    thread_.join();
    if (own_)
        DestroyWindow(own_);
}

void ResponsivenessProbe::Run() {
    struct Ended {
        std::atomic<bool>& flag;
        ~Ended() { flag = false; }
    } ended{running_};
    while (!stop_) {
        const ULONGLONG start = GetTickCount64();
        pendingSince_ = start;
        DWORD_PTR result = 0;
        const LRESULT sent = SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 120000, &result);
        const DWORD took = static_cast<DWORD>(GetTickCount64() - start);
        pendingSince_ = 0;
        if (!sent && !IsWindow(window_))
            return;
        ++answers_;
        longest_ = std::max<DWORD>(longest_, took);
        Sleep(interval_);
    }
}

DWORD ResponsivenessProbe::LongestStallMs() const {
    const ULONGLONG since = pendingSince_;
    const DWORD waiting = since ? static_cast<DWORD>(GetTickCount64() - since) : 0;
    return std::max<DWORD>(longest_, waiting);
}

}  // namespace memoline::test
