#include "ui/Button.h"

#include "ui/Style.h"

namespace memoline::ui {

TControl::CreateParams TButton::GetCreateParams() {
    return CreateParams{L"Button", static_cast<DWORD>((default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP), 0,
                        false};
}

void TButton::Click() {
    if (Enabled() && OnClick)
        OnClick(this);
}

void TButton::CommandNotify(WORD code) {
    if (code == BN_CLICKED)
        Click();
}

bool TButton::DrawItem(const DRAWITEMSTRUCT& item) {
    if (!StyleHook())
        return false;
    StyleHook()->Paint(item.hDC);
    return true;
}

void TGlyphButton::SetGlyph(HICON glyph) {
    glyph_ = glyph;
    HandleCreated();
    Invalidate();
}

void TGlyphButton::HandleCreated() {
    // Without a style the system button shows the icon itself.
    if (HandleAllocated() && !StyleHook() && glyph_)
        SendMessageW(Handle(), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(glyph_));
}

}  // namespace memoline::ui
