// Push buttons: standard BUTTON windows with their captions, so another process can find and press
// them. Under a visual style a hook paints them (they become owner-drawn).
#pragma once

#include "ui/Control.h"

namespace memoline::ui {

class TButton : public TControl {
public:
    using TControl::TControl;
    TNotifyEvent OnClick;
    // Presses the button as the operator would (the click event runs if it is enabled).
    void Click();
    // The default button of its window (drawn as such; Enter presses it): set before the window exists.
    void SetDefault(bool isDefault) { default_ = isDefault; }
    bool IsDefault() const { return default_; }

protected:
    CreateParams GetCreateParams() override;
    void CommandNotify(WORD code) override;
    bool DrawItem(const DRAWITEMSTRUCT& item) override;

private:
    bool default_ = false;
};

// A push button that shows a glyph (an icon) beside its caption.
class TGlyphButton : public TButton {
public:
    using TButton::TButton;
    // A shared icon (LoadIcon of a system or resource icon), not destroyed by the button.
    HICON Glyph() const { return glyph_; }
    void SetGlyph(HICON glyph);

protected:
    void HandleCreated() override;

private:
    HICON glyph_ = nullptr;
};

}  // namespace memoline::ui
