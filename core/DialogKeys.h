// Dispatches one message of the UI thread the way every message loop of the program does: keys meant
// for moving between controls (Tab, Shift+Tab, arrows, Esc, Enter) go to the top-level window as
// dialog keys, everything else is translated and dispatched. The main loop and the loops that run
// while the program waits (network, download, programs started) all use it, so the keyboard works
// the same during a wait. Header-only: the waits live in libraries that do not link the UI framework.
#pragma once

#include <windows.h>

namespace memoline::core {

inline void DispatchThreadMessage(MSG& msg) {
    // Only windows made for keyboard navigation between their controls (WS_EX_CONTROLPARENT: the main
    // window, the progress dialog) take dialog keys; a dialog's own modal loop handles the rest.
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && (GetWindowLongPtrW(root, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) && IsDialogMessageW(root, &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

}  // namespace memoline::core
