// Caption colours for glyph buttons under the visual style: the hook lets the style paint the
// button, then draws the caption again in the colour of the button's state. Other colours for a
// button go into ButtonColorMap.
#pragma once

#include <windows.h>

#include <map>
#include <memory>

#include "ui/Button.h"
#include "ui/Style.h"

namespace memoline::style {

// Caption colours of one button, by state.
struct TButtonColorData {
    COLORREF Normal;    // enabled, neither hot nor pressed
    COLORREF Hot;       // enabled, not pressed, mouse over it
    COLORREF Pressed;   // enabled, holding the mouse capture
    COLORREF Disabled;  // disabled
};

// Per-button overrides, keyed by the button itself. Exists from module start to module end (null
// outside that time); UI thread only.
using TButtonColorMap = std::map<const ui::TGlyphButton*, TButtonColorData>;
extern std::unique_ptr<TButtonColorMap> ButtonColorMap;

// The state a caption is drawn in; the first that holds wins, pressed before hot.
COLORREF ChooseCaptionColor(const TButtonColorData& colors, bool enabled, bool pressed, bool hot);

class TButtonStyleHookFontColor : public ui::TButtonStyleHook {
public:
    using ui::TButtonStyleHook::TButtonStyleHook;
    void Paint(HDC dc) override;

private:
    // Repaints the button once more when the hot state differs from the last paint's.
    void UpdateHotState(bool hot);
    bool FLastHotState = false;
};

}  // namespace memoline::style
