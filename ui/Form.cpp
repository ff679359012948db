#include "ui/Form.h"

#include "ui/Application.h"
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
    if (HandleAllocated()) {
        RECT r = AdjustWindowRectForDpi(RECT{0, 0, Width(), Height()}, kFormStyle, kFormExStyle, Dpi());
        SetWindowPos(handle_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
    }
}

void TForm::Show() {
    HWND hwnd = Handle();
    RECT r = AdjustWindowRectForDpi(RECT{0, 0, Width(), Height()}, kFormStyle, kFormExStyle, Dpi());
    int w = r.right - r.left, h = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    SetWindowPos(hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
}

void TForm::Close() {
    if (HandleAllocated())
        SendMessageW(handle_, WM_CLOSE, 0, 0);
}

void TForm::HandleCreated() {
    const int dpi = WindowDpi(handle_);
    if (dpi != Dpi())
        ChangeDpi(dpi);
}

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_DPICHANGED: {
            // Moved to a monitor of another density (or its scale changed): lay out again for it and
            // take the place the system suggests, with the client size the layout asks for.
            ChangeDpi(HIWORD(wp));
            const RECT* suggested = reinterpret_cast<const RECT*>(lp);
            RECT r = AdjustWindowRectForDpi(RECT{0, 0, Width(), Height()}, kFormStyle, kFormExStyle, Dpi());
            SetWindowPos(handle_, nullptr, suggested ? suggested->left : 0, suggested ? suggested->top : 0,
                         r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE | (suggested ? 0 : SWP_NOMOVE));
            InvalidateRect(handle_, nullptr, TRUE);
            return 0;
        }
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
            if (OnClose)
                OnClose(this);
            DestroyWindow(handle_);
            return 0;
        case WM_DESTROY:
            if (Application().MainForm() == this)
                PostQuitMessage(0);
            break;
    }
    return TControl::WndProc(msg, wp, lp);
}

}  // namespace memoline::ui
