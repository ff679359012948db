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

MessageDlgHandler SetMessageDlgHandler(MessageDlgHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

}  // namespace memoline::ui
