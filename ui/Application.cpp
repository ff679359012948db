#include "ui/Application.h"

#include <commctrl.h>

#include "core/MessagePump.h"
#include "core/Synchronize.h"

namespace memoline::ui {

TApplication& Application() {
    static TApplication application;
    return application;
}

void TApplication::Initialize() {
    core::InitMainThread();
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
}

bool TApplication::DispatchOne(MSG& msg) {
    // Tab and the arrow keys move between the controls of the main form (and of any other window made
    // for it) as in a dialog.
    core::DispatchThreadMessage(msg);
    return true;
}

int TApplication::Run() {
    if (mainForm_)
        mainForm_->Show();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchOne(msg);
    return static_cast<int>(msg.wParam);
}

void TApplication::ProcessMessages() {
    core::ProcessPendingMessages(core::TQuitPolicy::StopAndRepost);
}

}  // namespace memoline::ui
