#include "ui/Panel.h"

#include <oleacc.h>

#include "core/Handles.h"
#include "ui/Style.h"

namespace memoline::ui {

TControl::CreateParams TPanel::GetCreateParams() {
    // WS_EX_CONTROLPARENT: Tab moves into the controls the panel holds.
    return CreateParams{L"TPanel", WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, true};
}

void TPanel::Paint(HDC dc) {
    RECT r = ClientRect();
    PaintBackground(dc, r);
    if (Caption().empty())
        return;
    HGDIOBJ old = SelectObject(dc, Font().Handle());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, TStyleManager::Engine().Color(TStyleColor::WindowText));
    DrawTextW(dc, Caption().c_str(), static_cast<int>(Caption().size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
}

TControl::CreateParams TGroupBox::GetCreateParams() {
    return CreateParams{L"TGroupBox", WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, true};
}

LONG TGroupBox::AccessibleRole() const {
    return ROLE_SYSTEM_GROUPING;
}

const TFont& TGroupBox::CaptionFont() {
    if (captionFont_.Name() != Font().Name() || captionFont_.Height() != Font().Height() ||
        captionFont_.PixelsPerInch() != Font().PixelsPerInch() || !captionFont_.Bold()) {
        captionFont_ = Font();
        captionFont_.SetBold(true);
    }
    return captionFont_;
}

int TGroupBox::CaptionHeight() {
    const unique_screen_dc dc(GetDC(nullptr));
    HGDIOBJ old = SelectObject(dc.get(), CaptionFont().Handle());
    TEXTMETRICW tm{};
    GetTextMetricsW(dc.get(), &tm);
    SelectObject(dc.get(), old);
    return tm.tmHeight;
}

RECT TGroupBox::AdjustClientRect(RECT r) {
    // Children stay below the caption and inside the two-pixel etched frame.
    r.top += CaptionHeight();
    InflateRect(&r, -Scale(2), -Scale(2));
    return r;
}

void TGroupBox::Paint(HDC dc) {
    RECT r = ClientRect();
    PaintBackground(dc, r);
    int captionHeight = CaptionHeight();
    RECT frame{r.left, r.top + captionHeight / 2, r.right, r.bottom};
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    if (Caption().empty())
        return;
    HGDIOBJ old = SelectObject(dc, CaptionFont().Handle());
    SIZE size{};
    GetTextExtentPoint32W(dc, Caption().c_str(), static_cast<int>(Caption().size()), &size);
    // The caption interrupts the top edge of the frame.
    RECT text{Scale(8), 0, Scale(8) + size.cx + Scale(4), captionHeight};
    PaintBackground(dc, text);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, TStyleManager::Engine().Color(TStyleColor::WindowText));
    text.left += Scale(2);
    DrawTextW(dc, Caption().c_str(), static_cast<int>(Caption().size()), &text, DT_LEFT | DT_TOP | DT_SINGLELINE);
    SelectObject(dc, old);
}

}  // namespace memoline::ui
