#include "ui/Edit.h"

namespace memoline::ui {

TControl::CreateParams TEdit::GetCreateParams() {
    const DWORD style = WS_TABSTOP | ES_AUTOHSCROLL | (passwordChar_ ? ES_PASSWORD : 0);
    return CreateParams{L"Edit", style, WS_EX_CLIENTEDGE, false};
}

void TEdit::HandleCreated() {
    if (passwordChar_)
        SendMessageW(handle_, EM_SETPASSWORDCHAR, passwordChar_, 0);
}

std::wstring TEdit::Text() {
    if (!HandleAllocated())
        return Caption();
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(handle_)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(handle_, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace memoline::ui
