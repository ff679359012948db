#include "ui/Style.h"

#include <commctrl.h>

#include <algorithm>

#include "core/Handles.h"
#include "ui/Button.h"
#include "ui/Control.h"
#include "ui/MessageBox.h"

namespace memoline::ui {
namespace {

constexpr UINT_PTR kSubclassId = 0x4D4C;  // any number unique among this window's subclasses

LRESULT CALLBACK HookSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    auto* hook = reinterpret_cast<TStyleHook*>(data);
    if (msg == WM_NCDESTROY) {
        hook->Detach();
        return DefSubclassProc(hwnd, msg, wp, lp);
    }
    LRESULT result = 0;
    if (hook->HandleMessage(msg, wp, lp, result))
        return result;
    return DefSubclassProc(hwnd, msg, wp, lp);
}

struct ColorKey {
    TStyleColor Color;
    const char* Key;
    int SystemColor;  // the default look's colour
};
constexpr ColorKey kColorKeys[] = {
    {TStyleColor::Window, "Window", COLOR_WINDOW},
    {TStyleColor::WindowText, "WindowText", COLOR_WINDOWTEXT},
    {TStyleColor::Frame, "Frame", COLOR_BTNSHADOW},
    {TStyleColor::ButtonFace, "ButtonFace", COLOR_BTNFACE},
    {TStyleColor::ButtonHot, "ButtonHot", COLOR_BTNHIGHLIGHT},
    {TStyleColor::ButtonPressed, "ButtonPressed", COLOR_BTNSHADOW},
    {TStyleColor::ButtonDisabled, "ButtonDisabled", COLOR_BTNFACE},
    {TStyleColor::ButtonBorder, "ButtonBorder", COLOR_BTNSHADOW},
    {TStyleColor::ButtonText, "ButtonText", COLOR_BTNTEXT},
    {TStyleColor::ButtonTextDisabled, "ButtonTextDisabled", COLOR_GRAYTEXT},
    {TStyleColor::GridBack, "GridBack", COLOR_WINDOW},
    {TStyleColor::GridText, "GridText", COLOR_WINDOWTEXT},
    {TStyleColor::GridHeader, "GridHeader", COLOR_BTNFACE},
    {TStyleColor::GridHeaderText, "GridHeaderText", COLOR_BTNTEXT},
    {TStyleColor::GridEmptyText, "GridEmptyText", COLOR_GRAYTEXT},
};

// The resource type under which styles are stored.
constexpr const wchar_t* kStyleResourceType = L"VSTYLE";

}  // namespace

TStyleHook::~TStyleHook() {
    Detach();
}

void TStyleHook::Attach() {
    HWND hwnd = control_->Handle();
    if (subclassed_ == hwnd)
        return;
    Detach();
    if (SetWindowSubclass(hwnd, HookSubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        subclassed_ = hwnd;
}

void TStyleHook::Detach() {
    if (!subclassed_)
        return;
    RemoveWindowSubclass(subclassed_, HookSubclassProc, kSubclassId);
    subclassed_ = nullptr;
}

void TStyleHook::Paint(HDC) {}

bool TStyleHook::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

void TStyleHook::Invalidate() {
    control_->Invalidate();
}

bool TButtonStyleHook::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
        case WM_MOUSEMOVE:
            if (!mouseInControl_) {
                mouseInControl_ = true;
                TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, Control()->Handle(), 0};
                TrackMouseEvent(&tme);
                Invalidate();
            }
            break;
        case WM_MOUSELEAVE:
            mouseInControl_ = false;
            Invalidate();
            break;
        case WM_ENABLE:
            Invalidate();
            break;
        case WM_GETDLGCODE:
            // Owner-drawn, the system's button calls itself neither a default nor a plain push button,
            // and the dialog keys would pass it by: Enter on it would press another button.
            result = DLGC_BUTTON | (IsDefaultNow() ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
            return true;
        case BM_SETSTYLE:
            // The dialog keys mark the push button with the focus as the default one by its type; the
            // type stays owner-drawn, or the system would paint the button from then on.
            result = DefSubclassProc(Control()->Handle(), msg, (wp & ~BS_TYPEMASK) | BS_OWNERDRAW, lp);
            Invalidate();
            return true;
    }
    return TStyleHook::HandleMessage(msg, wp, lp, result);
}

bool TButtonStyleHook::IsDefaultNow() const {
    HWND hwnd = Control()->Handle();
    const LRESULT id = SendMessageW(GetAncestor(hwnd, GA_ROOT), DM_GETDEFID, 0, 0);
    return HIWORD(id) == DC_HASDEFID && LOWORD(id) == GetDlgCtrlID(hwnd);
}

void TButtonStyleHook::Paint(HDC dc) {
    TStyleManager& engine = TStyleManager::Engine();
    TControl* button = Control();
    HWND hwnd = button->Handle();
    bool enabled = IsWindowEnabled(hwnd);
    bool pressed = enabled && (SendMessageW(hwnd, BM_GETSTATE, 0, 0) & BST_PUSHED);
    TStyleColor face = !enabled          ? TStyleColor::ButtonDisabled
                       : pressed         ? TStyleColor::ButtonPressed
                       : mouseInControl_ ? TStyleColor::ButtonHot
                                         : TStyleColor::ButtonFace;
    RECT r = button->ClientRect();
    const unique_hbrush border(CreateSolidBrush(engine.Color(TStyleColor::ButtonBorder)));
    const unique_hbrush fill(CreateSolidBrush(engine.Color(face)));
    FillRect(dc, &r, border.get());
    RECT inner{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    // The button Enter presses has a double outline, as the system draws its default push button.
    if (enabled && IsDefaultNow())
        InflateRect(&inner, -1, -1);
    FillRect(dc, &inner, fill.get());

    RECT text = r;
    if (auto* glyph = dynamic_cast<TGlyphButton*>(button); glyph && glyph->Glyph()) {
        // The glyph sits at the left, vertically centred; the caption takes the rest.
        constexpr int kGlyphSize = 16, kGlyphGap = 6;
        int y = (r.bottom - kGlyphSize) / 2;
        DrawIconEx(dc, kGlyphGap, y, glyph->Glyph(), kGlyphSize, kGlyphSize, 0, nullptr, DI_NORMAL);
        text.left += kGlyphGap + kGlyphSize;
    }
    HGDIOBJ oldFont = SelectObject(dc, button->Font().Handle());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, engine.Color(enabled ? TStyleColor::ButtonText : TStyleColor::ButtonTextDisabled));
    DrawTextW(dc, button->Caption().c_str(), static_cast<int>(button->Caption().size()), &text,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
    if (enabled && GetFocus() == hwnd) {
        RECT focus{r.left + 3, r.top + 3, r.right - 3, r.bottom - 3};
        DrawFocusRect(dc, &focus);
    }
}

TStyleManager& TStyleManager::Engine() {
    static TStyleManager engine = [] {
        TStyleManager e;
        // The framework's own push buttons are painted by the standard button hook.
        e.RegisterStyleHook<TButton, TButtonStyleHook>();
        e.RegisterStyleHook<TGlyphButton, TButtonStyleHook>();
        return e;
    }();
    return engine;
}

void TStyleManager::Register(std::type_index controlClass, std::type_index hookClass, HookFactory factory) {
    hooks_.push_back(Entry{controlClass, hookClass, std::move(factory)});
}

void TStyleManager::Unregister(std::type_index controlClass, std::type_index hookClass) {
    // The latest matching registration goes; an earlier one for the same class shows again.
    for (auto it = hooks_.rbegin(); it != hooks_.rend(); ++it) {
        if (it->Control == controlClass && it->Hook == hookClass) {
            hooks_.erase(std::next(it).base());
            return;
        }
    }
}

bool TStyleManager::IsHookRegistered(std::type_index controlClass, std::type_index hookClass) const {
    return std::any_of(hooks_.begin(), hooks_.end(),
                       [&](const Entry& e) { return e.Control == controlClass && e.Hook == hookClass; });
}

std::unique_ptr<TStyleHook> TStyleManager::CreateHook(TControl* control) const {
    if (!active_)
        return nullptr;
    std::type_index type = typeid(*control);
    for (auto it = hooks_.rbegin(); it != hooks_.rend(); ++it)
        if (it->Control == type)
            return it->Factory(control);
    return nullptr;
}

COLORREF TStyleManager::Color(TStyleColor color) const {
    for (const ColorKey& key : kColorKeys) {
        if (key.Color != color)
            continue;
        if (active_) {
            auto found = active_->Colors.find(key.Key);
            if (found != active_->Colors.end())
                return found->second;
        }
        return GetSysColor(key.SystemColor);
    }
    return GetSysColor(COLOR_WINDOW);
}

namespace {

struct StyleSearch {
    const std::wstring* Name;
    std::optional<TStyleData> Found;
};

BOOL CALLBACK VisitStyleResource(HMODULE module, LPCWSTR type, LPWSTR resName, LONG_PTR param) {
    auto* search = reinterpret_cast<StyleSearch*>(param);
    HRSRC info = FindResourceW(module, resName, type);
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return TRUE;
    auto style = DecodeStyle(std::string(static_cast<const char*>(bytes), SizeofResource(module, info)));
    if (style && style->Name == *search->Name) {
        search->Found = std::move(style);
        return FALSE;  // found: stop enumerating
    }
    return TRUE;
}

}  // namespace

std::optional<TStyleData> TStyleManager::FindResourceStyle(const std::wstring& name) {
    StyleSearch search{&name, std::nullopt};
    EnumResourceNamesW(GetModuleHandleW(nullptr), kStyleResourceType, VisitStyleResource,
                       reinterpret_cast<LONG_PTR>(&search));
    return search.Found;
}

bool TStyleManager::TrySetStyle(const std::wstring& name) {
    auto style = FindResourceStyle(name);
    if (!style) {
        MessageDlgClose(L"Style '" + name + L"' not found", TMsgDlgType::Error);
        return false;
    }
    active_ = std::move(style);
    return true;
}

}  // namespace memoline::ui
