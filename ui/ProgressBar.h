// A progress bar: the common controls' bar, with a range, a position, and a marquee mode for a
// length that is not known.
#pragma once

#include "ui/Control.h"

namespace memoline::ui {

class TProgressBar : public TControl {
public:
    using TControl::TControl;

    void SetRange(int minimum, int maximum);
    void SetPosition(int position);
    // The position as the bar reports it (within its range).
    int Position();
    // A marquee runs instead of showing a position.
    void SetMarquee(bool marquee);

protected:
    CreateParams GetCreateParams() override;
    void HandleCreated() override;

private:
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    bool marquee_ = false;
};

}  // namespace memoline::ui
