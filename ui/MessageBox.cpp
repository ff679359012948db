#include "ui/MessageBox.h"

#include <utility>

namespace memoline::ui {
namespace {
MessageDlgHandler& Handler() {
    static MessageDlgHandler handler;
    return handler;
}
}  // namespace

const wchar_t* MessageDlgCaption(TMsgDlgType type) {
    switch (type) {
        case TMsgDlgType::Error:
            return L"Error";
        case TMsgDlgType::Information:
            return L"Information";
        case TMsgDlgType::Confirmation:
            return L"Confirm";
    }
    return L"";
}

int MessageDlg(const std::wstring& text, TMsgDlgType type, HWND owner) {
    if (Handler())
        return Handler()(text, type);
    UINT style = MB_TASKMODAL;
    switch (type) {
        case TMsgDlgType::Error:
            style |= MB_OK | MB_ICONERROR;
            break;
        case TMsgDlgType::Information:
            style |= MB_OK | MB_ICONINFORMATION;
            break;
        case TMsgDlgType::Confirmation:
            style |= MB_YESNO | MB_ICONQUESTION;
            break;
    }
    if (!owner)
        owner = GetActiveWindow();
    return MessageBoxW(owner, text.c_str(), MessageDlgCaption(type), style);
}

namespace {
HHOOK g_closeHook = nullptr;

// Renames the OK button of the box that is being activated; the system box has no Close button.
LRESULT CALLBACK RenameOkButton(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wp);
        wchar_t cls[16] = {};
        GetClassNameW(box, cls, 16);
        if (std::wstring(cls) == L"#32770")
            SetDlgItemTextW(box, IDOK, L"Close");
    }
    return CallNextHookEx(g_closeHook, code, wp, lp);
}
}  // namespace

int MessageDlgClose(const std::wstring& text, TMsgDlgType type, HWND owner) {
    if (Handler()) {
        Handler()(text, type);
        return IDCLOSE;
    }
    g_closeHook = SetWindowsHookExW(WH_CBT, RenameOkButton, nullptr, GetCurrentThreadId());
    UINT icon = type == TMsgDlgType::Error ? MB_ICONERROR : MB_ICONINFORMATION;
    MessageBoxW(owner ? owner : GetActiveWindow(), text.c_str(), MessageDlgCaption(type), MB_TASKMODAL | MB_OK | icon);
    if (g_closeHook)
        UnhookWindowsHookEx(g_closeHook);
    g_closeHook = nullptr;
    return IDCLOSE;
}

MessageDlgHandler SetMessageDlgHandler(MessageDlgHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

}  // namespace memoline::ui
