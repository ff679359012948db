#include "style/ButtonFontColorStyleHook.h"

namespace memoline::style {

std::unique_ptr<TButtonColorMap> ButtonColorMap;

namespace {

// Registers the hook when the program starts, before its start-up code runs, and unregisters it
// when the program ends.
struct ModuleLifetime {
    ModuleLifetime() {
        ui::TStyleManager::Engine().RegisterStyleHook<ui::TGlyphButton, TButtonStyleHookFontColor>();
        ButtonColorMap = std::make_unique<TButtonColorMap>();
    }
    ~ModuleLifetime() {
        ui::TStyleManager::Engine().UnregisterStyleHook<ui::TGlyphButton, TButtonStyleHookFontColor>();
        ButtonColorMap.reset();
    }
} moduleLifetime;

}  // namespace

COLORREF ChooseCaptionColor(const TButtonColorData& colors, bool enabled, bool pressed, bool hot) {
    if (!enabled)
        return colors.Disabled;
    if (pressed)
        return colors.Pressed;
    if (hot)
        return colors.Hot;
    return colors.Normal;
}

void TButtonStyleHookFontColor::UpdateHotState(bool hot) {
    if (hot == FLastHotState)
        return;
    FLastHotState = hot;
    Invalidate();
}

void TButtonStyleHookFontColor::Paint(HDC dc) {
    auto* button = dynamic_cast<ui::TGlyphButton*>(Control());
    if (!button) {
        ui::TButtonStyleHook::Paint(dc);
        return;
    }
    HWND hwnd = button->Handle();
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(hwnd, &cursor);
    RECT client = button->ClientRect();
    bool enabled = button->Enabled() && IsWindowEnabled(hwnd);
    // Hot needs the mouse over the button with nobody holding the capture; pressed needs the
    // button itself to hold it, wherever the mouse is.
    bool hot = enabled && PtInRect(&client, cursor) && GetCapture() == nullptr;
    bool pressed = enabled && ui::CaptureControl() == button;
    UpdateHotState(hot);

    RECT text{0, 0, button->Width(), button->Height()};
    ui::TButtonStyleHook::Paint(dc);

    COLORREF fontColor = button->Font().Color();
    TButtonColorData colors{fontColor, fontColor, fontColor, GetSysColor(COLOR_GRAYTEXT)};
    if (ButtonColorMap) {
        auto found = ButtonColorMap->find(button);
        if (found != ButtonColorMap->end())
            colors = found->second;
    }
    COLORREF color = ChooseCaptionColor(colors, enabled, pressed, hot);

    HGDIOBJ oldFont = SelectObject(dc, button->Font().Handle());
    SetTextColor(dc, color);
    SetBkMode(dc, TRANSPARENT);
    const std::wstring& caption = button->Caption();
    // 0x25 = DT_CENTER | DT_VCENTER | DT_SINGLELINE: one line, centred in the whole button.
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
}

}  // namespace memoline::style
