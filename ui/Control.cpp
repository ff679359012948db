#include "ui/Control.h"

#include <oleacc.h>

#include <algorithm>
#include <set>
#include <unordered_map>

#include "core/Handles.h"
#include "ui/Dpi.h"
#include "ui/ExceptionReport.h"
#include "ui/Style.h"

namespace memoline::ui {
namespace {

// The windows the framework made on this thread, including those of system classes (buttons, list
// views), and their controls. The lookup runs for every message of every control: a window property
// would do the same, but reading one is a round trip to the window server under Wine, about 40 us.
// A window's messages arrive on the thread that made it, so each thread keeps its own.
std::unordered_map<HWND, TControl*>& WindowControls() {
    thread_local std::unordered_map<HWND, TControl*> controls;
    return controls;
}

void Link(HWND hwnd, TControl* control) {
    WindowControls()[hwnd] = control;
}

void Unlink(HWND hwnd) {
    WindowControls().erase(hwnd);
}

}  // namespace

LRESULT CALLBACK ControlWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        auto* control = static_cast<TControl*>(cs->lpCreateParams);
        control->handle_ = hwnd;
        Link(hwnd, control);
    }
    TControl* control = TControl::FromHandle(hwnd);
    if (!control)
        return DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        Unlink(hwnd);
        LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
        control->handle_ = nullptr;
        return r;
    }
    // The system's frames lie beyond this return: nothing may unwind into them.
    return GuardWindowProc([&] { return control->WndProc(msg, wp, lp); });
}

void RegisterControlClass(const wchar_t* name, TClassIcon icon, UINT classStyle) {
    static std::set<std::wstring> registered;
    if (!registered.insert(name).second)
        return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = classStyle;
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // No class brush: every control paints its own background (no flicker from a double erase).
    wc.lpszClassName = name;
    if (icon == TClassIcon::Program) {
        // Both sizes from the resource: without a small icon the system scales the large one down
        // again for every class it registers, which costs milliseconds each at start-up.
        const auto load = [&](int cx, int cy) {
            return static_cast<HICON>(LoadImageW(wc.hInstance, L"MAINICON", IMAGE_ICON, GetSystemMetrics(cx),
                                                 GetSystemMetrics(cy), LR_SHARED));
        };
        wc.hIcon = load(SM_CXICON, SM_CYICON);
        wc.hIconSm = load(SM_CXSMICON, SM_CYSMICON);
    }
    RegisterClassExW(&wc);
}

TControl* CaptureControl() {
    HWND capture = GetCapture();
    return capture ? TControl::FromHandle(capture) : nullptr;
}

TControl::TControl(TComponent* owner, TControl* parent) : TComponent(owner), parent_(parent) {
    if (parent_)
        parent_->children_.push_back(this);
}

TControl::~TControl() {
    hook_.reset();
    if (handle_) {
        // Unlinked first: the messages of its destruction find no control that is going away.
        Unlink(handle_);
        if (IsWindow(handle_))
            DestroyWindow(handle_);
    }
    handle_ = nullptr;
    // The children are freed later, by their owner, after this object's list is gone.
    for (TControl* child : children_)
        child->parent_ = nullptr;
    children_.clear();
    if (parent_) {
        auto& list = parent_->children_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

TControl* TControl::FromHandle(HWND hwnd) {
    const auto& controls = WindowControls();
    const auto found = controls.find(hwnd);
    return found == controls.end() ? nullptr : found->second;
}

HWND TControl::Handle() {
    if (windowless_)
        return parent_ ? parent_->Handle() : nullptr;
    if (!handle_)
        CreateHandle();
    return handle_;
}

void TControl::CreateChildWindows() {
    for (TControl* child : children_) {
        if (child->windowless_)
            child->CreateChildWindows();
        else
            child->Handle();
    }
}

HWND TControl::HostWindow() const {
    const TControl* c = this;
    while (c && c->windowless_)
        c = c->parent_;
    return c ? c->handle_ : nullptr;
}

POINT TControl::ParentOrigin() const {
    POINT origin{0, 0};
    for (const TControl* c = parent_; c && c->windowless_; c = c->parent_) {
        origin.x += c->left_;
        origin.y += c->top_;
    }
    return origin;
}

RECT TControl::BoundsInWindow() const {
    const POINT origin = ParentOrigin();
    return RECT{origin.x + left_, origin.y + top_, origin.x + left_ + width_, origin.y + top_ + height_};
}

bool TControl::ShownInWindow() const {
    for (const TControl* c = this; c; c = c->parent_) {
        if (!c->visible_)
            return false;
        if (c != this && !c->windowless_)
            break;
    }
    return true;
}

void TControl::CreateHandle() {
    HWND parentWindow = parent_ ? parent_->Handle() : nullptr;
    if (handle_)  // the parent made this window while making its own children
        return;
    CreateParams params = GetCreateParams();
    if (!parent_)
        parentWindow = params.Owner;
    if (params.OwnClass)  // a child window shows no icon
        RegisterControlClass(params.ClassName, parent_ ? TClassIcon::None : TClassIcon::Program);
    DWORD style = params.Style;
    if (parent_)
        style |= WS_CHILD | WS_CLIPSIBLINGS;
    if (parent_ && ShownInWindow())
        style |= WS_VISIBLE;
    if (!enabled_)
        style |= WS_DISABLED;
    // Decide on the hook before the window exists: a hooked button is drawn by its owner.
    hook_ = TStyleManager::Engine().CreateHook(this);
    if (hook_)
        style |= hook_->ExtraStyle();
    const RECT at = InitialWindowRect();
    HWND created =
        CreateWindowExW(params.ExStyle, params.ClassName, caption_.c_str(), style, at.left, at.top, at.right - at.left,
                        at.bottom - at.top, parentWindow, parent_ ? reinterpret_cast<HMENU>(INT_PTR(id_)) : nullptr,
                        GetModuleHandleW(nullptr), this);
    if (!created) {
        hook_.reset();
        return;
    }
    handle_ = created;
    Link(handle_, this);
    SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), FALSE);
    if (hook_)
        hook_->Attach();
    HandleCreated();
    CreateChildWindows();
}

void TControl::HandleDestroyed() {
    for (TControl* child : children_)
        child->HandleDestroyed();
    if (hook_)
        hook_->Detach();
    if (handle_)
        Unlink(handle_);  // gone with its parent: the number may soon name another window
    handle_ = nullptr;
}

int TControl::Scale(int value) const {
    return ScaleToDpi(value, Dpi());
}

void TControl::SetBounds(int left, int top, int width, int height) {
    designLeft_ = left;
    designTop_ = top;
    designWidth_ = std::max(width, 0);
    designHeight_ = std::max(height, 0);
    SetPixelBounds(Scale(left), Scale(top), Scale(width), Scale(height));
}

void TControl::ChangeDpi(int dpi) {
    ApplyDpi(dpi);
    Realign();
}

void TControl::ApplyDpi(int dpi) {
    if (!parent_)
        dpi_ = dpi;
    if (!parentFont_) {
        font_.SetPixelsPerInch(dpi);
        FontChanged();
    }
    // Docked controls are placed by their parent's Realign; the others from their 96-DPI bounds.
    if (align_ == TAlign::None)
        SetPixelBounds(Scale(designLeft_), Scale(designTop_), Scale(designWidth_), Scale(designHeight_));
    for (TControl* child : children_)
        child->ApplyDpi(dpi);
    DpiChanged();
}

void TControl::SetPixelBounds(int left, int top, int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    const bool moved = left != left_ || top != top_ || width != width_ || height != height_;
    if (windowless_ && moved)
        Invalidate();  // where it was
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (windowless_ && moved)
        Invalidate();  // where it is now
    if (!windowless_ || moved)
        PlaceWindow();
    Realign();
}

void TControl::PlaceWindow() {
    // A windowless control's children's windows sit in the window that holds it: they move with it.
    if (handle_ && parent_) {
        const RECT at = BoundsInWindow();
        MoveWindow(handle_, at.left, at.top, width_, height_, TRUE);
    } else if (windowless_) {
        for (TControl* child : children_)
            child->PlaceWindow();
    }
}

void TControl::SetAlign(TAlign align) {
    align_ = align;
    if (parent_)
        parent_->Realign();
}

void TControl::SetPadding(int left, int top, int right, int bottom) {
    padding_ = TPadding{left, top, right, bottom};
    Realign();
}

void TControl::Realign() {
    RECT r = AdjustClientRect(ClientRect());
    r.left += Scale(padding_.Left);
    r.top += Scale(padding_.Top);
    r.right -= Scale(padding_.Right);
    r.bottom -= Scale(padding_.Bottom);
    for (TAlign kind : {TAlign::Top, TAlign::Bottom, TAlign::Left, TAlign::Right, TAlign::Client}) {
        for (TControl* c : children_) {
            if (c->align_ != kind || !c->visible_)
                continue;
            int w = r.right - r.left, h = r.bottom - r.top;
            switch (kind) {
                case TAlign::Top: {
                    const int height = Scale(c->designHeight_);
                    c->SetPixelBounds(r.left, r.top, w, height);
                    r.top += height;
                    break;
                }
                case TAlign::Bottom: {
                    const int height = Scale(c->designHeight_);
                    c->SetPixelBounds(r.left, r.bottom - height, w, height);
                    r.bottom -= height;
                    break;
                }
                case TAlign::Left: {
                    const int width = Scale(c->designWidth_);
                    c->SetPixelBounds(r.left, r.top, width, h);
                    r.left += width;
                    break;
                }
                case TAlign::Right: {
                    const int width = Scale(c->designWidth_);
                    c->SetPixelBounds(r.right - width, r.top, width, h);
                    r.right -= width;
                    break;
                }
                case TAlign::Client:
                    c->SetPixelBounds(r.left, r.top, w, h);
                    break;
                case TAlign::None:
                    break;
            }
        }
    }
}

void TControl::SetCaption(const std::wstring& caption) {
    SetWindowCaption(caption);
    Invalidate();
}

void TControl::SetWindowCaption(const std::wstring& caption) {
    caption_ = caption;
    if (handle_)
        SetWindowTextW(handle_, caption_.c_str());
}

void TControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (handle_)
        EnableWindow(handle_, enabled_);
}

void TControl::SetVisible(bool visible) {
    visible_ = visible;
    if (handle_)
        ShowWindow(handle_, visible_ ? SW_SHOW : SW_HIDE);
    if (windowless_) {
        Invalidate();
        ShowChildWindows();
    }
    if (parent_)
        parent_->Realign();
}

const TFont& TControl::Font() const {
    if (parentFont_ && parent_)
        return parent_->Font();
    return font_;
}

void TControl::SetFont(const TFont& font) {
    font_ = font;
    parentFont_ = false;
    FontChanged();
}

void TControl::FontChanged() {
    if (handle_) {
        SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), TRUE);
        Realign();
    } else if (windowless_) {
        Realign();
        Invalidate();
    }
    for (TControl* child : children_)
        if (child->parentFont_)
            child->FontChanged();
}

void TControl::Focus() {
    ::SetFocus(Handle());
}

LONG TControl::AccessibleRole() const {
    return ROLE_SYSTEM_STATICTEXT;
}

COLORREF TControl::BackgroundColor() const {
    return TStyleManager::Engine().Color(TStyleColor::Window);
}

bool TControl::HasNonClientArea() const {
    RECT window, client;
    if (!GetWindowRect(handle_, &window) || !GetClientRect(handle_, &client))
        return true;
    return window.right - window.left != client.right || window.bottom - window.top != client.bottom;
}

void TControl::Invalidate() {
    if (handle_) {
        InvalidateRect(handle_, nullptr, TRUE);
    } else if (HWND host = windowless_ ? HostWindow() : nullptr) {
        const RECT r = BoundsInWindow();
        InvalidateRect(host, &r, TRUE);
    }
}

void TControl::ShowChildWindows() {
    for (TControl* child : children_) {
        if (child->handle_)
            ShowWindow(child->handle_, child->ShownInWindow() ? SW_SHOW : SW_HIDE);
        else if (child->windowless_)
            child->ShowChildWindows();
    }
}

void TControl::PaintWindowlessChildren(HDC dc) {
    for (TControl* child : children_) {
        if (!child->windowless_ || !child->visible_)
            continue;
        const int saved = SaveDC(dc);
        OffsetViewportOrgEx(dc, child->left_, child->top_, nullptr);
        IntersectClipRect(dc, 0, 0, child->width_, child->height_);
        child->Paint(dc);
        child->PaintWindowlessChildren(dc);
        RestoreDC(dc, saved);
    }
}

LRESULT TControl::DefaultProc(UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(handle_, msg, wp, lp);
}

void TControl::PaintBackground(HDC dc, const RECT& r) {
    const unique_hbrush brush(CreateSolidBrush(BackgroundColor()));
    FillRect(dc, &r, brush.get());
}

void TControl::Paint(HDC dc) {
    RECT r = ClientRect();
    PaintBackground(dc, r);
}

bool TControl::ForwardToChild(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
        case WM_COMMAND: {
            TControl* child = lp ? FromHandle(reinterpret_cast<HWND>(lp)) : nullptr;
            if (!child || child == this)
                return false;
            child->CommandNotify(HIWORD(wp));
            result = 0;
            return true;
        }
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lp);
            TControl* child = FromHandle(header->hwndFrom);
            // Header controls of a list view notify the list view, which notifies us on their behalf.
            if (!child && header->hwndFrom)
                child = FromHandle(GetParent(header->hwndFrom));
            return child && child != this && child->Notify(header, result);
        }
        case WM_CTLCOLORSTATIC: {
            TControl* child = FromHandle(reinterpret_cast<HWND>(lp));
            return child && child != this && child->ControlColor(reinterpret_cast<HDC>(wp), result);
        }
        case WM_DRAWITEM: {
            auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
            TControl* child = FromHandle(item->hwndItem);
            if (!child || !child->DrawItem(*item))
                return false;
            result = TRUE;
            return true;
        }
    }
    return false;
}

LRESULT TControl::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    if (ForwardToChild(msg, wp, lp, result))
        return result;
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;  // painted in WM_PAINT, double-buffered
        case WM_NCPAINT:
            // A window without border or scroll bars has nothing outside its client area to draw; the
            // system would still fetch a device context for it, for every window, when the form shows.
            if (!HasNonClientArea())
                return 0;
            break;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(handle_, &ps);
            // Paint into memory first so the panels do not flicker when they repaint.
            const unique_hbitmap bmp(CreateCompatibleBitmap(dc, std::max(width_, 1), std::max(height_, 1)));
            const unique_memory_dc mem(CreateCompatibleDC(dc));
            HGDIOBJ old = SelectObject(mem.get(), bmp.get());
            Paint(mem.get());
            PaintWindowlessChildren(mem.get());
            BitBlt(dc, 0, 0, width_, height_, mem.get(), 0, 0, SRCCOPY);
            SelectObject(mem.get(), old);
            EndPaint(handle_, &ps);
            return 0;
        }
        case WM_PRINTCLIENT:
            Paint(reinterpret_cast<HDC>(wp));
            PaintWindowlessChildren(reinterpret_cast<HDC>(wp));
            return 0;
        case WM_SETTEXT: {
            LRESULT r = DefaultProc(msg, wp, lp);
            InvalidateRect(handle_, nullptr, FALSE);
            return r;
        }
        case WM_DESTROY:
            for (TControl* child : children_)
                child->HandleDestroyed();
            if (hook_)
                hook_->Detach();
            break;
    }
    return DefaultProc(msg, wp, lp);
}

}  // namespace memoline::ui
