#include "ui/Form.h"

#include <algorithm>
#include <vector>

#include "core/MessagePump.h"
#include "ui/Accessible.h"
#include "ui/Application.h"
#include "ui/Button.h"
#include "ui/Dpi.h"

namespace memoline::ui {
namespace {
// A fixed frame: no WS_THICKFRAME (no resizing) and no WS_MAXIMIZEBOX.
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// WS_EX_APPWINDOW: the form itself has the taskbar button; WS_EX_CONTROLPARENT: Tab reaches the
// controls inside its panels.
constexpr DWORD kFormExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
}  // namespace

TForm::TForm(TComponent* owner, std::wstring className) : TControl(owner, nullptr), className_(std::move(className)) {}

TForm::~TForm() {
    if (HandleAllocated() && IsWindow(handle_))
        DestroyWindow(handle_);
}

TControl::CreateParams TForm::GetCreateParams() {
    return CreateParams{className_.c_str(), kFormStyle, kFormExStyle, true};
}

void TForm::SetClientSize(int width, int height) {
    // The stored size is the client size; the window's frame is added when it is placed.
    TControl::SetBounds(Left(), Top(), width, height);
    if (HandleAllocated())
        FitWindowToClient(nullptr);
}

RECT TForm::WindowRectForClient() {
    const CreateParams params = GetCreateParams();
    return AdjustWindowRectForDpi(RECT{0, 0, Width(), Height()}, params.Style, params.ExStyle, Dpi());
}

void TForm::FitWindowToClient(const POINT* position) {
    RECT r = WindowRectForClient();
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (position ? 0 : SWP_NOMOVE);
    const int x = position ? position->x : 0, y = position ? position->y : 0;
    // Already there (the window was made in place): moving it to where it is still costs a round trip
    // through the system and the display.
    RECT now{};
    GetWindowRect(handle_, &now);
    const bool placed = now.right - now.left == r.right - r.left && now.bottom - now.top == r.bottom - r.top &&
                        (!position || (now.left == x && now.top == y));
    if (!placed)
        SetWindowPos(handle_, nullptr, x, y, r.right - r.left, r.bottom - r.top, flags);
    // The frame may be drawn at another DPI than asked (before Windows 10, or a frame the system does
    // not scale): correct by what the client area came out as.
    RECT client;
    GetClientRect(handle_, &client);
    const int dx = Width() - client.right, dy = Height() - client.bottom;
    if (dx != 0 || dy != 0)
        SetWindowPos(handle_, nullptr, 0, 0, r.right - r.left + dx, r.bottom - r.top + dy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetCaption(const std::wstring& caption) {
    SetWindowCaption(caption);
}

void TForm::Show() {
    CenterOnScreen();
    ShowWindow(handle_, SW_SHOW);
    UpdateWindow(handle_);
    // Activated by the showing, the form has already placed the focus; one shown behind the active
    // window of this thread gets it when it is activated.
    if (GetActiveWindow() == handle_)
        RestoreFocus();
}

void TForm::FocusControl(TControl* control) {
    if (!HandleAllocated() || !control)
        return;
    if (GetActiveWindow() == handle_)
        control->Focus();
    else
        savedFocus_ = control->Handle();
}

HWND TForm::FocusedWindow() const {
    if (!handle_)
        return nullptr;
    if (GetActiveWindow() == handle_) {
        HWND focus = GetFocus();
        return focus && IsChild(handle_, focus) ? focus : nullptr;
    }
    return savedFocus_ && IsWindow(savedFocus_) && IsChild(handle_, savedFocus_) ? savedFocus_ : nullptr;
}

void TForm::SaveFocus() {
    HWND focus = GetFocus();
    if (focus && IsChild(handle_, focus))
        savedFocus_ = focus;
}

bool TForm::RestoreFocus() {
    const auto takes = [this](HWND w) {
        return w && IsWindow(w) && IsChild(handle_, w) && IsWindowVisible(w) && IsWindowEnabled(w);
    };
    HWND target = takes(savedFocus_) ? savedFocus_ : nullptr;
    if (!target && activeControl_ && activeControl_->HandleAllocated() && takes(activeControl_->Handle()))
        target = activeControl_->Handle();
    if (!target)
        target = GetNextDlgTabItem(handle_, nullptr, FALSE);
    if (!takes(target))
        return false;
    if (GetFocus() != target)
        SetFocus(target);
    return true;
}

namespace {

// The texts the form paints for its windowless controls, in the order of the tree: a control with a
// window of its own answers for itself, a hidden one and what it holds are left out.
void CollectPaintedTexts(const TControl& parent, std::vector<TAccessiblePart>& parts) {
    for (const TControl* c : parent.Controls()) {
        if (!c->Windowless() || !c->Visible())
            continue;
        if (std::wstring text = c->AccessibleText(); !text.empty())
            parts.push_back(TAccessiblePart{std::move(text), c->AccessibleRole(), c->BoundsInWindow()});
        CollectPaintedTexts(*c, parts);
    }
}

}  // namespace

TControl* TForm::DefaultButton() {
    TControl* focused = FromHandle(GetFocus());
    if (dynamic_cast<TButton*>(focused) && focused->HandleAllocated() && IsChild(handle_, focused->Handle()))
        return focused;
    // The declared default button, searched through the whole tree of controls.
    std::vector<TControl*> pending(Controls().begin(), Controls().end());
    while (!pending.empty()) {
        TControl* c = pending.back();
        pending.pop_back();
        auto* button = dynamic_cast<TButton*>(c);
        if (button && button->IsDefault() && button->HandleAllocated() && IsWindowEnabled(button->Handle()) &&
            IsWindowVisible(button->Handle()))
            return button;
        pending.insert(pending.end(), c->Controls().begin(), c->Controls().end());
    }
    return nullptr;
}

void TForm::CenterOnScreen() {
    PlaceInWorkArea(WorkAreaAtCursor());
}

void TForm::PlaceInWorkArea(const RECT& workArea) {
    Handle();
    const TWorkAreaFit fit = FitIn(workArea);
    if (fit.ClientHeight != Height())
        SetPixelBounds(Left(), Top(), Width(), fit.ClientHeight);
    FitWindowToClient(&fit.Position);
}

TWorkAreaFit TForm::FitIn(const RECT& workArea) {
    // Measured from the layout's own height, not from one a smaller work area gave it before.
    const int height = Scale(DesignBounds().bottom - DesignBounds().top);
    const CreateParams params = GetCreateParams();
    const RECT window = AdjustWindowRectForDpi(RECT{0, 0, Width(), height}, params.Style, params.ExStyle, Dpi());
    const SIZE frame{window.right - window.left - Width(), window.bottom - window.top - height};
    const int minHeight = minClientHeight_ > 0 ? Scale(minClientHeight_) : height;
    return FitInWorkArea(workArea, frame, SIZE{Width(), height}, minHeight);
}

RECT TForm::InitialWindowRect() {
    const TWorkAreaFit fit = FitIn(WorkAreaAtCursor());
    const CreateParams params = GetCreateParams();
    RECT r = AdjustWindowRectForDpi(RECT{0, 0, Width(), fit.ClientHeight}, params.Style, params.ExStyle, Dpi());
    OffsetRect(&r, fit.Position.x - r.left, fit.Position.y - r.top);
    return r;
}

void TForm::Close() {
    if (HandleAllocated())
        SendMessageW(handle_, WM_CLOSE, 0, 0);
}

int TForm::ShowModal() {
    const HWND owner = GetCreateParams().Owner;
    modalResult_ = 0;
    if (!Handle())
        return IDCANCEL;
    if (owner)
        EnableWindow(owner, FALSE);
    modal_ = true;
    Show();
    MSG msg;
    while (modalResult_ == 0 && HandleAllocated()) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0)
                PostQuitMessage(static_cast<int>(msg.wParam));  // for the application's own loop
            modalResult_ = IDCANCEL;
            break;
        }
        core::DispatchThreadMessage(msg);
    }
    modal_ = false;
    if (modalResult_ == 0)
        modalResult_ = IDCANCEL;
    // The owner comes back before this window goes, so the system activates the owner, not another.
    if (owner)
        EnableWindow(owner, TRUE);
    if (HandleAllocated())
        DestroyWindow(handle_);
    return modalResult_;
}

void TForm::HandleCreated() {
    const int dpi = WindowDpi(handle_);
    if (dpi != Dpi())
        ChangeDpi(dpi);
}

void TForm::CloseAsAsked() {
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    if (!canClose)
        return;
    if (OnClose)
        OnClose(this);
    if (modal_)
        modalResult_ = IDCANCEL;
    else
        DestroyWindow(handle_);
}

LRESULT TForm::OnDpiChanged(WPARAM wp, LPARAM lp) {
    // Moved to a monitor of another density (or its scale changed): lay out again for it and take the
    // place the system suggests, with the client size the layout asks for.
    ChangeDpi(HIWORD(wp));
    const RECT* suggested = reinterpret_cast<const RECT*>(lp);
    POINT at{suggested ? suggested->left : 0, suggested ? suggested->top : 0};
    FitWindowToClient(suggested ? &at : nullptr);
    InvalidateRect(handle_, nullptr, TRUE);
    return 0;
}

LRESULT TForm::OnGetMinMaxInfo(WPARAM wp, LPARAM lp) {
    // The layout's size wins over the screen's: at a high scale the window may be larger.
    LRESULT r = TControl::WndProc(WM_GETMINMAXINFO, wp, lp);
    auto* info = reinterpret_cast<MINMAXINFO*>(lp);
    RECT window = WindowRectForClient();
    info->ptMaxTrackSize.x = std::max<LONG>(info->ptMaxTrackSize.x, 2 * (window.right - window.left));
    info->ptMaxTrackSize.y = std::max<LONG>(info->ptMaxTrackSize.y, 2 * (window.bottom - window.top));
    return r;
}

bool TForm::OnActivate(WPARAM wp) {
    if (LOWORD(wp) == WA_INACTIVE) {
        SaveFocus();
        return false;
    }
    // Activated and not minimised: the control that had the focus gets it back, rather than the form
    // itself, which takes no keys.
    return !HIWORD(wp) && RestoreFocus();
}

LRESULT TForm::OnGetObject(WPARAM wp, LPARAM lp) {
    TAccessibleDetails details;
    CollectPaintedTexts(*this, details.Parts);
    if (details.Parts.empty())
        return 0;
    return AnswerGetObject(handle_, wp, lp, std::move(details));
}

LRESULT TForm::OnGetDefId() {
    // The dialog keys ask the window which button Enter presses when the focused control is not a
    // default push button (an owner-drawn button never says it is one). Without an answer they would
    // press the control numbered IDOK, whatever has the focus.
    TControl* button = DefaultButton();
    return button && button->ControlId() != 0 ? MAKELRESULT(button->ControlId(), DC_HASDEFID) : 0;
}

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_DPICHANGED:
            return OnDpiChanged(wp, lp);
        case WM_GETMINMAXINFO:
            return OnGetMinMaxInfo(wp, lp);
        case WM_SETTEXT:
            // The text is the title bar's, which the system paints: nothing in the client area changes.
            return DefaultProc(msg, wp, lp);
        case WM_SHOWWINDOW:
            if (wp && OnShow)
                OnShow(this);
            break;
        case WM_SYSCOMMAND:
            // The fixed frame has no maximise button and no sizing border; refuse both as commands too.
            if ((wp & 0xFFF0) == SC_MAXIMIZE || (wp & 0xFFF0) == SC_SIZE)
                return 0;
            break;
        case WM_CLOSE:
            CloseAsAsked();
            return 0;
        case WM_ACTIVATE:
            if (OnActivate(wp))
                return 0;
            break;
        case WM_SETFOCUS:
            if (!IsIconic(handle_))
                RestoreFocus();
            return 0;
        case WM_GETOBJECT:
            if (LRESULT answer = OnGetObject(wp, lp))
                return answer;
            break;
        case DM_GETDEFID:
            return OnGetDefId();
        case WM_DESTROY:
            if (Application().MainForm() == this)
                PostQuitMessage(0);
            break;
    }
    return TControl::WndProc(msg, wp, lp);
}

}  // namespace memoline::ui
