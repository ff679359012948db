#include "download/DownloadLoginForm.h"

#include <utility>

#include "ui/Dpi.h"

namespace memoline {
namespace {

constexpr wchar_t kLoginFormClass[] = L"TDownloadLoginForm";
constexpr int kFormWidth = 328;
constexpr int kFormHeight = 223;

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The banner: the product's name on a band of its colour.
void DrawBanner(const DRAWITEMSTRUCT& item) {
    HBRUSH band = CreateSolidBrush(RGB(0, 84, 147));
    FillRect(item.hDC, &item.rcItem, band);
    DeleteObject(band);
    RECT text = item.rcItem;
    text.left += 16;
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, RGB(255, 255, 255));
    DrawTextW(item.hDC, L"Memoline 5 Server Updates", -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
}

}  // namespace

TDownloadLoginForm::TDownloadLoginForm(std::wstring caption) : caption_(std::move(caption)) {}

TDownloadLoginForm::~TDownloadLoginForm() {
    if (window_)
        DestroyWindow(window_);
    if (font_)
        DeleteObject(font_);
}

LRESULT CALLBACK TDownloadLoginForm::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TDownloadLoginForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_COMMAND:
            if (self && HIWORD(wp) == BN_CLICKED && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
                self->Finish(LOWORD(wp));
                return 0;
            }
            break;
        case WM_CLOSE:
            if (self)
                self->Finish(IDCANCEL);
            return 0;
        case WM_DRAWITEM: {
            auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            if (item->CtlID == static_cast<UINT>(kImageId)) {
                DrawBanner(*item);
                return TRUE;
            }
            break;
        }
        case WM_CTLCOLORSTATIC:
            SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void TDownloadLoginForm::CreateControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // The layout is in 96-DPI units, scaled to the window's DPI; the font is 8 points at that DPI.
    const int dpi = ui::WindowDpi(window_);
    auto S = [dpi](int value) { return ui::ScaleToDpi(value, dpi); };
    int height = -MulDiv(8, dpi, 72);
    font_ = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
    auto add = [&](const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int x, int y, int w, int h,
                   int id) {
        HWND control = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, S(x), S(y), S(w), S(h),
                                       window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return control;
    };
    add(L"STATIC", L"", SS_OWNERDRAW, 0, 0, 0, 320, 60, kImageId);
    // Each label comes right before its edit in the tab order, so its access key moves to the edit.
    add(L"STATIC", L"&User name: ", SS_LEFT, 0, 16, 80, 80, 13, -1);
    HWND user = add(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 104, 80, 193, 21, kUserNameId);
    add(L"STATIC", L"&Password:", SS_LEFT, 0, 16, 112, 80, 13, -1);
    add(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, WS_EX_CLIENTEDGE, 104, 112, 193, 21, kPasswordId);
    SendDlgItemMessageW(window_, kPasswordId, EM_SETPASSWORDCHAR, L'*', 0);
    add(L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 144, 152, 75, 25, IDOK);
    add(L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 0, 224, 152, 75, 25, IDCANCEL);
    SetFocus(user);
}

bool TDownloadLoginForm::ShowModal() {
    static ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kLoginFormClass;
        return RegisterClassW(&wc);
    }();
    (void)atom;

    HWND owner = GetActiveWindow();
    int left = (GetSystemMetrics(SM_CXSCREEN) - kFormWidth) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - kFormHeight) / 2;
    // The system menu is the only border icon: no minimise or maximise box.
    window_ = CreateWindowExW(WS_EX_DLGMODALFRAME, kLoginFormClass, caption_.c_str(),
                              WS_POPUP | WS_CAPTION | WS_SYSMENU, left, top, kFormWidth, kFormHeight, owner,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window_)
        return false;
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (const int dpi = ui::WindowDpi(window_); dpi != ui::kDesignDpi) {
        const int w = ui::ScaleToDpi(kFormWidth, dpi), h = ui::ScaleToDpi(kFormHeight, dpi);
        SetWindowPos(window_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2,
                     w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    CreateControls();
    if (owner)
        EnableWindow(owner, FALSE);
    ShowWindow(window_, SW_SHOW);
    SetFocus(GetDlgItem(window_, kUserNameId));

    result_ = 0;
    MSG msg;
    while (result_ == 0) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0)
                PostQuitMessage(static_cast<int>(msg.wParam));  // for the application's own loop
            result_ = IDCANCEL;
            break;
        }
        // Tab, Enter (OK) and Escape (Cancel) as in a dialog box.
        if (IsDialogMessageW(window_, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (owner)
        EnableWindow(owner, TRUE);
    DestroyWindow(window_);
    window_ = nullptr;
    return result_ == IDOK;
}

void TDownloadLoginForm::Finish(int result) {
    if (result == IDOK) {
        userName_ = WindowText(GetDlgItem(window_, kUserNameId));
        password_ = WindowText(GetDlgItem(window_, kPasswordId));
    }
    result_ = result;
}

}  // namespace memoline
