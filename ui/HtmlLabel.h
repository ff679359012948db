// A label that renders the framework's small markup (bold and line breaks), wrapping words to its
// width. Its window text is the markup itself, so another process reads what was set; screen readers
// are given the text without it.
#pragma once

#include "ui/Control.h"

namespace memoline::ui {

class THtmlLabel : public TControl {
public:
    using TControl::TControl;
    std::wstring AccessibleText() const override;

protected:
    CreateParams GetCreateParams() override;
    void Paint(HDC dc) override;
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    TFont boldFont_;
};

}  // namespace memoline::ui
