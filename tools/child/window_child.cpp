// A stand-in child program that shows one top-level window, in the state its starter asked for, until
// it is closed or --after-ms passes; then exits with --exit-code (see ChildOptions.h).
#include <windows.h>

#include "tools/child/ChildOptions.h"

namespace {

constexpr UINT_PTR kEndTimer = 1;

LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER:
            if (wp == kEndTimer)
                DestroyWindow(wnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(wnd, msg, wp, lp);
    }
}

}  // namespace

int main() {
    using namespace memoline::child;
    const Options options = ReadOptions();
    Record(options);

    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"MemolineWindowChild";
    RegisterClassW(&wc);
    HWND wnd = CreateWindowExW(0, wc.lpszClassName, options.title.c_str(), WS_OVERLAPPEDWINDOW, 100, 100, 320, 200,
                               nullptr, nullptr, wc.hInstance, nullptr);
    if (!wnd)
        return 251;
    // SW_SHOWDEFAULT takes the show command the starter put in the start-up information.
    ShowWindow(wnd, SW_SHOWDEFAULT);
    UpdateWindow(wnd);
    if (options.afterMs > 0)
        SetTimer(wnd, kEndTimer, options.afterMs, nullptr);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (!CopyIfAsked(options))
        return 250;
    return static_cast<int>(options.exitCode);
}
