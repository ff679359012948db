// The one entry point for the operator's modal message boxes. Tests answer them in-process by
// installing a handler; an end-to-end driver in another process finds them as standard dialogs
// (class "#32770") with the captions below.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace memoline::ui {

enum class TMsgDlgType {
    Error,         // "Error", OK button
    Information,   // "Information", OK button
    Confirmation,  // "Confirm", Yes and No buttons
};

// The caption a box of this kind carries.
const wchar_t* MessageDlgCaption(TMsgDlgType type);

// Shows a modal box owned by `owner` (or the active window) and returns IDOK, IDYES or IDNO.
int MessageDlg(const std::wstring& text, TMsgDlgType type, HWND owner = nullptr);

// A handler replaces the box: it gets what the box would show and returns the button. Returns the
// handler that was installed before; an empty handler restores the real boxes.
using MessageDlgHandler = std::function<int(const std::wstring& text, TMsgDlgType type)>;
MessageDlgHandler SetMessageDlgHandler(MessageDlgHandler handler);

// A box of the given kind whose one button reads "Close" (the framework's own failures, such as a
// missing visual style). Returns IDCLOSE; an installed handler answers it like any other box.
int MessageDlgClose(const std::wstring& text, TMsgDlgType type, HWND owner = nullptr);

}  // namespace memoline::ui
