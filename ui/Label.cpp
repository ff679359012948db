#include "ui/Label.h"

namespace memoline::ui {

TControl::CreateParams TLabel::GetCreateParams() {
    return CreateParams{L"Static", static_cast<DWORD>(SS_LEFT | (showAccelChar_ ? 0 : SS_NOPREFIX)), 0, false};
}

void TLabel::SetAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    FitToText();
}

void TLabel::SetCaption(const std::wstring& caption) {
    // The static control paints its new text itself: painting it again would draw it twice.
    SetWindowCaption(caption);
    FitToText();
}

void TLabel::FitToText() {
    if (!autoSize_)
        return;
    unique_memory_dc dc(CreateCompatibleDC(nullptr));
    if (!dc)
        return;
    const HGDIOBJ old = SelectObject(dc.get(), Font().Handle());
    SIZE extent{};
    GetTextExtentPoint32W(dc.get(), Caption().c_str(), static_cast<int>(Caption().size()), &extent);
    SelectObject(dc.get(), old);
    if (extent.cx != Width())
        SetPixelBounds(Left(), Top(), extent.cx, Height());
}

bool TLabel::ControlColor(HDC dc, LRESULT& brush) {
    const COLORREF back = Parent() ? Parent()->BackgroundColor() : BackgroundColor();
    if (!brush_ || brushColor_ != back) {
        brush_.reset(CreateSolidBrush(back));
        brushColor_ = back;
    }
    SetBkColor(dc, back);
    SetTextColor(dc, Font().Color());
    brush = reinterpret_cast<LRESULT>(brush_.get());
    return true;
}

}  // namespace memoline::ui
