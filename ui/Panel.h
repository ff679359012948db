// Containers: a panel (no border, the window's background, an optional centred one-line caption)
// and a group box (classic etched frame, caption in the bold form of its font).
#pragma once

#include "ui/Control.h"

namespace memoline::ui {

class TPanel : public TControl {
public:
    using TControl::TControl;
    std::wstring AccessibleText() const override { return Caption(); }

protected:
    CreateParams GetCreateParams() override;
    void Paint(HDC dc) override;
};

class TGroupBox : public TControl {
public:
    using TControl::TControl;
    // The bold caption's font.
    const TFont& CaptionFont();
    std::wstring AccessibleText() const override { return Caption(); }
    LONG AccessibleRole() const override;

protected:
    CreateParams GetCreateParams() override;
    void Paint(HDC dc) override;
    RECT AdjustClientRect(RECT r) override;

private:
    int CaptionHeight();
    TFont captionFont_;
};

}  // namespace memoline::ui
