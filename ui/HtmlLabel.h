// A label that renders the framework's small markup (bold and line breaks), wrapping words to its
// width. Its window text is the markup itself, so another process reads what was set.
#pragma once

#include "ui/Control.h"

namespace memoline::ui {

class THtmlLabel : public TControl {
public:
    using TControl::TControl;

protected:
    CreateParams GetCreateParams() override;
    void Paint(HDC dc) override;

private:
    TFont boldFont_;
};

}  // namespace memoline::ui
