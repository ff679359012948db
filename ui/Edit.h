// A one-line text box: a system edit control with a sunken edge that scrolls its text sideways.
#pragma once

#include <string>

#include "ui/Control.h"

namespace memoline::ui {

class TEdit : public TControl {
public:
    using TControl::TControl;

    // The text as typed (the window's text while it exists).
    std::wstring Text();
    // Shows this character for every character typed (0: the text itself); set before the window exists.
    void SetPasswordChar(wchar_t passwordChar) { passwordChar_ = passwordChar; }

protected:
    CreateParams GetCreateParams() override;
    void HandleCreated() override;

private:
    wchar_t passwordChar_ = 0;
};

}  // namespace memoline::ui
