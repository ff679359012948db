#include "core/Synchronize.h"

#include <windows.h>

#include <exception>

namespace memoline::core {
namespace {

constexpr UINT kRunCall = WM_APP + 1;
DWORD g_mainThreadId = 0;
HWND g_callWindow = nullptr;

struct Call {
    const std::function<void()>* fn;
    std::exception_ptr error;
};

LRESULT CALLBACK CallWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != kRunCall)
        return DefWindowProcW(hwnd, msg, wp, lp);
    auto* call = reinterpret_cast<Call*>(lp);
    try {
        (*call->fn)();
    } catch (...) {
        call->error = std::current_exception();
    }
    return 0;
}

}  // namespace

void InitMainThread() {
    if (g_callWindow)
        return;
    g_mainThreadId = GetCurrentThreadId();
    WNDCLASSW wc{};
    wc.lpfnWndProc = CallWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"MemolineSynchronizeWindow";
    RegisterClassW(&wc);
    // A message-only window: never shown, never enumerated as a top-level window.
    g_callWindow =
        CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

bool IsMainThread() {
    return g_mainThreadId == 0 || GetCurrentThreadId() == g_mainThreadId;
}

void Synchronize(const std::function<void()>& fn) {
    if (IsMainThread() || !g_callWindow) {
        fn();
        return;
    }
    Call call{&fn, nullptr};
    // SendMessage across threads blocks this worker until the UI thread has run the call.
    SendMessageW(g_callWindow, kRunCall, 0, reinterpret_cast<LPARAM>(&call));
    if (call.error)
        std::rethrow_exception(call.error);
}

}  // namespace memoline::core
