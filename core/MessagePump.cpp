#include "core/MessagePump.h"

namespace memoline::core {

void DispatchThreadMessage(MSG& msg) {
    // Only windows made for keyboard navigation between their controls (WS_EX_CONTROLPARENT: the main
    // window, the progress dialog) take dialog keys; a dialog's own modal loop handles the rest.
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && (GetWindowLongPtrW(root, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) && IsDialogMessageW(root, &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

TPumpResult ProcessPendingMessages(TQuitPolicy policy, TQuitHold* hold, const std::function<void()>& afterEach) {
    TPumpResult result;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            result.quit = true;
            if (policy == TQuitPolicy::StopAndRepost) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return result;
            }
            if (hold)
                hold->Take(static_cast<int>(msg.wParam));
            continue;
        }
        DispatchThreadMessage(msg);
        if (afterEach)
            afterEach();
    }
    return result;
}

}  // namespace memoline::core
