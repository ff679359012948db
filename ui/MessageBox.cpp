#include "ui/MessageBox.h"

#include <utility>
#include <vector>

namespace memoline::ui {
namespace {
MessageDlgHandler& Handler() {
    static MessageDlgHandler handler;
    return handler;
}

// While a box is up, the thread's other windows take no input, not only its owner: a modeless
// window (the download's progress window) would otherwise stay live beside the box and could raise
// a second one. When one of them stays on top, so does the box, or it would open behind it.
class OtherWindowsDisabled {
public:
    explicit OtherWindowsDisabled(HWND owner) : owner_(owner) {
        topmost_ = owner && (GetWindowLongPtrW(owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
        EnumThreadWindows(GetCurrentThreadId(), Visit, reinterpret_cast<LPARAM>(this));
    }
    ~OtherWindowsDisabled() {
        for (HWND window : disabled_)
            EnableWindow(window, TRUE);
    }
    OtherWindowsDisabled(const OtherWindowsDisabled&) = delete;
    OtherWindowsDisabled& operator=(const OtherWindowsDisabled&) = delete;

    bool NeedsTopmostBox() const { return topmost_; }

private:
    static BOOL CALLBACK Visit(HWND window, LPARAM param) {
        auto* self = reinterpret_cast<OtherWindowsDisabled*>(param);
        if (window == self->owner_ || !IsWindowVisible(window) || !IsWindowEnabled(window))
            return TRUE;
        if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST)
            self->topmost_ = true;
        EnableWindow(window, FALSE);
        self->disabled_.push_back(window);
        return TRUE;
    }

    HWND owner_;
    bool topmost_ = false;
    std::vector<HWND> disabled_;
};

// Adjusts the system box as it is activated: makes it topmost (MB_TOPMOST alone is not honoured
// everywhere) and gives its OK button another caption. One per box; a box raised while another is up
// gets its own and leaves the outer one's in place when it ends.
class BoxAdjustment {
public:
    BoxAdjustment(bool topmost, const wchar_t* okCaption) : topmost_(topmost), okCaption_(okCaption), outer_(current_) {
        current_ = this;
        if (topmost_ || okCaption_)
            hook_ = SetWindowsHookExW(WH_CBT, OnCbt, nullptr, GetCurrentThreadId());
    }
    ~BoxAdjustment() {
        if (hook_)
            UnhookWindowsHookEx(hook_);
        current_ = outer_;
    }
    BoxAdjustment(const BoxAdjustment&) = delete;
    BoxAdjustment& operator=(const BoxAdjustment&) = delete;

private:
    static LRESULT CALLBACK OnCbt(int code, WPARAM wp, LPARAM lp) {
        BoxAdjustment* self = current_;
        if (code == HCBT_ACTIVATE && self) {
            HWND box = reinterpret_cast<HWND>(wp);
            wchar_t cls[16] = {};
            GetClassNameW(box, cls, 16);
            if (std::wstring(cls) == L"#32770") {
                if (self->topmost_)
                    SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                if (self->okCaption_)
                    SetDlgItemTextW(box, IDOK, self->okCaption_);
            }
        }
        return CallNextHookEx(nullptr, code, wp, lp);
    }

    static inline BoxAdjustment* current_ = nullptr;  // UI thread only
    bool topmost_;
    const wchar_t* okCaption_;
    BoxAdjustment* outer_;
    HHOOK hook_ = nullptr;
};

// The system box, with the thread's other windows disabled while it is up.
int ShowBox(HWND owner, const std::wstring& text, const wchar_t* caption, UINT style, const wchar_t* okCaption) {
    if (!owner)
        owner = GetActiveWindow();
    OtherWindowsDisabled others(owner);
    BoxAdjustment adjustment(others.NeedsTopmostBox(), okCaption);
    return MessageBoxW(owner, text.c_str(), caption, style | (others.NeedsTopmostBox() ? MB_TOPMOST : 0));
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
    return ShowBox(owner, text, MessageDlgCaption(type), style, nullptr);
}

int MessageDlgClose(const std::wstring& text, TMsgDlgType type, HWND owner) {
    if (Handler()) {
        Handler()(text, type);
        return IDCLOSE;
    }
    UINT icon = type == TMsgDlgType::Error ? MB_ICONERROR : MB_ICONINFORMATION;
    // The system box has no Close button: its OK button is renamed.
    ShowBox(owner, text, MessageDlgCaption(type), MB_TASKMODAL | MB_OK | icon, L"Close");
    return IDCLOSE;
}

MessageDlgHandler SetMessageDlgHandler(MessageDlgHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

}  // namespace memoline::ui
