#include "ui/ProgressBar.h"

#include <algorithm>

namespace memoline::ui {

TControl::CreateParams TProgressBar::GetCreateParams() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)registered;
    return CreateParams{PROGRESS_CLASSW, static_cast<DWORD>(marquee_ ? PBS_MARQUEE : 0), 0, false};
}

void TProgressBar::HandleCreated() {
    SendMessageW(handle_, PBM_SETRANGE32, static_cast<WPARAM>(min_), static_cast<LPARAM>(max_));
    SendMessageW(handle_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
    if (marquee_)
        SendMessageW(handle_, PBM_SETMARQUEE, TRUE, 0);
}

void TProgressBar::SetRange(int minimum, int maximum) {
    min_ = minimum;
    max_ = maximum;
    if (HandleAllocated())
        SendMessageW(handle_, PBM_SETRANGE32, static_cast<WPARAM>(min_), static_cast<LPARAM>(max_));
}

void TProgressBar::SetPosition(int position) {
    position_ = std::clamp(position, min_, max_);
    if (HandleAllocated())
        SendMessageW(handle_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
}

int TProgressBar::Position() {
    if (HandleAllocated())
        return static_cast<int>(SendMessageW(handle_, PBM_GETPOS, 0, 0));
    return position_;
}

void TProgressBar::SetMarquee(bool marquee) {
    marquee_ = marquee;
    if (!HandleAllocated())
        return;
    const LONG_PTR style = GetWindowLongPtrW(handle_, GWL_STYLE);
    if (marquee) {
        SetWindowLongPtrW(handle_, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(handle_, PBM_SETMARQUEE, TRUE, 0);
    } else {
        SendMessageW(handle_, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongPtrW(handle_, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    }
}

}  // namespace memoline::ui
