// The progress dialog of TWebDownloader: built from code for every run, updated after every chunk,
// closed by the engine when the run ends.
#include <windows.h>
#include <commctrl.h>

#include "download/DownloadText.h"
#include "download/WebDownloader.h"
#include "ui/Dpi.h"
#include "ui/ExceptionReport.h"

namespace memoline {
namespace {

constexpr wchar_t kProgressFormClass[] = L"TWebDownloadProgressForm";
constexpr int kFormWidth = 300;
constexpr int kLineHeight = 13;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kCancelButtonId = IDCANCEL;
constexpr DWORD kRepaintIntervalMs = 100;  // at most ten updates of the lines a second

// The stock dialog font (8 points) at 96 DPI; at another DPI its face at 8 points there. Whether the
// system scales the stock font itself differs between systems, so its height is not relied on.
HFONT ScaledStockFont(int dpi, unique_gdiobj& owned) {
    auto stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW lf{};
    if (dpi == ui::kDesignDpi || !GetObjectW(stock, sizeof lf, &lf))
        return stock;
    lf.lfHeight = -MulDiv(8, dpi, 72);
    lf.lfWidth = 0;
    owned.reset(CreateFontIndirectW(&lf));
    return owned ? static_cast<HFONT>(owned.get()) : stock;
}

wchar_t UserDecimalSeparator() {
    wchar_t text[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) > 1 && text[0])
        return text[0];
    return L'.';
}

}  // namespace

LRESULT CALLBACK ProgressFormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TWebDownloader*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_CLOSE:
            // Closing is refused while the run needs the window; the engine allows it at the end.
            if (self && (self->DlgShowCloseBtn || self->FCancelIsClose))
                DestroyWindow(hwnd);
            return 0;
        case WM_COMMAND:
            if (self && LOWORD(wp) == kCancelButtonId && HIWORD(wp) == BN_CLICKED &&
                reinterpret_cast<HWND>(lp) == self->FCancelBtn) {
                // The owner's cancel handler runs here: what it throws stops at this window's edge.
                return ui::GuardWindowProc([self] {
                    self->CancelBtnClick();
                    return LRESULT{0};
                });
            }
            break;
        case WM_DESTROY:
            if (self)
                self->FFormAlive = false;
            break;
        case WM_CTLCOLORSTATIC:
            // The lines sit on the window colour like the form itself.
            SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_WINDOW));
            SetTextColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void TWebDownloader::CreateProgressForm() {
    static ATOM atom = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        WNDCLASSW wc{};
        wc.lpfnWndProc = ProgressFormProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kProgressFormClass;
        return RegisterClassW(&wc);
    }();
    (void)atom;

    const int W = kFormWidth;
    const int V = (ShowTime ? 20 : 0) + (ShowElapsedTime ? 20 : 0);
    const int B = ShowFileName ? 0 : 20;
    const int T = ShowFileName ? V + 100 : V + 80;

    // A fixed dialog frame; the system menu (and with it the close box) only when closing is allowed.
    DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
    if (DlgShowCloseBtn)
        style |= WS_SYSMENU;
    // WS_EX_COMPOSITED paints the window and its lines off screen first: the per-chunk updates of the
    // lines, the bar and the caption do not flicker.
    // WS_EX_CONTROLPARENT: the message loops give it dialog keys, so Esc is Cancel and Tab reaches the
    // button.
    DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_COMPOSITED | WS_EX_CONTROLPARENT;
    if (ShowDialogOnTop)
        exStyle |= WS_EX_TOPMOST;
    // Made first and placed once its DPI is known: the layout below is in 96-DPI units.
    FForm = CreateWindowExW(exStyle, kProgressFormClass, L"", style, 0, 0, W, 100, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(FForm, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    FFormAlive = FForm != nullptr;
    FDpi = ui::WindowDpi(FForm);
    auto S = [this](int value) { return ui::ScaleToDpi(value, FDpi); };
    int height = ui::SystemMetricForDpi(SM_CYCAPTION, FDpi) + S(V + 145);
    if (!DlgShowCancel)
        height -= S(20);
    const int left = (GetSystemMetrics(SM_CXSCREEN) - S(W)) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(FForm, nullptr, left, top, S(W), height, SWP_NOZORDER | SWP_NOACTIVATE);
    FFont = ScaledStockFont(FDpi, FScaledFont);
    if (FMeasureDC)
        DeleteDC(FMeasureDC);
    FMeasureDC = CreateCompatibleDC(nullptr);
    SelectObject(FMeasureDC, FFont);
    FDecimalSeparator = UserDecimalSeparator();

    auto makeLine = [&](int y, int width, const std::wstring& text, bool visible) {
        DWORD lineStyle = WS_CHILD | SS_LEFT | SS_NOPREFIX | (visible ? WS_VISIBLE : 0);
        HWND line = CreateWindowExW(0, L"STATIC", L"", lineStyle, S(10), S(y), S(width), S(kLineHeight), FForm, nullptr,
                                    GetModuleHandleW(nullptr), nullptr);
        SendMessageW(line, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
        SetLabel(line, text, width == 0);
        return line;
    };
    FFileLbl = makeLine(0, W - 20, DlgFileLabel, ShowFileName);
    FSizeLbl = makeLine(B + 40, 0, DlgProgressLabel, true);
    FRateLbl = makeLine(B + 60, 0, DlgRateLabel, true);
    FTimeLbl = makeLine(B + 80, 0, DlgTimeLabel, ShowTime);
    FElapsedTimeLbl = makeLine(B + 100, 0, DlgElapsedTimeLabel, ShowElapsedTime);
    FCancelBtn = CreateWindowExW(0, L"BUTTON", DlgCancel.c_str(),
                                 WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON | (DlgShowCancel ? WS_VISIBLE : 0),
                                 S(W - kButtonWidth - 20), S(T), S(kButtonWidth), S(kButtonHeight), FForm,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCancelButtonId)),
                                 GetModuleHandleW(nullptr), nullptr);
    SendMessageW(FCancelBtn, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    FProgress = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, S(10), S(20), S(W - 30), S(12), FForm,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(FProgress, PBM_SETRANGE32, 0, 100);
    // A new bar starts at 0, and so does the percentage the caption shows: a run without a length
    // never moves it and must not show the last run's value.
    FBarPos = 0;
    FCancelIsClose = false;
    FFormClosed = false;

    FCaptionText = DlgCaption + L" ...";
    SetWindowTextW(FForm, FCaptionText.c_str());
    FCancelled = false;
    if (ShowDialog) {
        if (OnBeforeDialogShow)
            OnBeforeDialogShow(this, FForm);
        ShowWindow(FForm, SW_SHOW);
        if (AlwaysOnTop) {
            RECT r;
            GetWindowRect(FForm, &r);
            SetWindowPos(FForm, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top, 0);
        }
    }
    FCancelled = false;
}

void TWebDownloader::SetLabel(HWND label, const std::wstring& text, bool autoSize) {
    SetWindowTextW(label, text.c_str());
    if (!autoSize)
        return;
    SIZE extent{};
    GetTextExtentPoint32W(FMeasureDC, text.c_str(), static_cast<int>(text.size()), &extent);
    RECT r;
    GetClientRect(label, &r);
    if (r.right != extent.cx)
        SetWindowPos(label, nullptr, 0, 0, extent.cx, ui::ScaleToDpi(kLineHeight, FDpi),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWebDownloader::SetProgressCaption(const std::wstring& caption) {
    // The caption changes with the whole percentage only; setting the same text again would just
    // repaint the frame.
    if (caption == FCaptionText)
        return;
    FCaptionText = caption;
    SetWindowTextW(FForm, caption.c_str());
}

// Gives the lines and the bar the last computed values.
void TWebDownloader::FlushProgress() {
    if (!FProgressPending)
        return;
    FProgressPending = false;
    FProgressShownOnce = true;
    FLastRepaint = GetTickCount();
    if (ShowCompletion)
        SetProgressCaption(DlgDownload + L" : " + std::to_wstring(FBarPos) + L"% " + DlgCompleted);
    SendMessageW(FProgress, PBM_SETPOS, static_cast<WPARAM>(FBarPos), 0);
    SetLabel(FSizeLbl, FSizeText, true);
    SetLabel(FRateLbl, DlgRateLabel + L" " + FRateStr, true);
    SetLabel(FTimeLbl, DlgTimeLabel + L" " + FTimeLeftStr, true);
    SetLabel(FElapsedTimeLbl, DlgElapsedTimeLabel + L" " + FElapsedTimeStr, true);
}

void TWebDownloader::SetFileLine(const TWebDownloadItem& item, const std::wstring& displayName) {
    (void)item;
    std::wstring prefix;
    if (FItems->Count() >= 2)
        prefix = std::to_wstring(FFileNum) + L" " + DlgFileOfLabel + L" " + std::to_wstring(FItems->ActiveItems()) +
                 L" : ";
    SetLabel(FFileLbl, prefix, false);
    std::wstring line = DlgFileLabel + L" " + prefix + displayName;
    if (ShowServer)
        line += L" " + DlgFromServerLabel + L" " + download::ExtractURLHost(item.URL);
    SetLabel(FFileLbl, line, false);
}

void TWebDownloader::SetProgressBarStyle(bool marquee) {
    FProgressShownOnce = false;  // a new body: its first chunk is shown at once
    LONG_PTR style = GetWindowLongPtrW(FProgress, GWL_STYLE);
    if (marquee) {
        SetWindowLongPtrW(FProgress, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(FProgress, PBM_SETMARQUEE, TRUE, 0);
    } else {
        SendMessageW(FProgress, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongPtrW(FProgress, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    }
}

void TWebDownloader::ShowTransferProgress(uint64_t received, uint32_t total, DWORD start) {
    using download::FormatRate;
    using download::FormatSize;
    using download::FormatTime;
    using download::RoundHalfEven;
    if (total > 0) {
        auto position = RoundHalfEven(static_cast<double>(received) / total * 100.0);
        FBarPos = static_cast<int>(position < 0 ? 0 : position > 100 ? 100 : position);  // the bar's range
        FSizeText = DlgProgressLabel + L" " + FormatSize(received, FDecimalSeparator) + L" " + DlgFileOfLabel + L" " +
                    FormatSize(total, FDecimalSeparator);
    } else {
        FSizeText = DlgProgressLabel + L" " + FormatSize(received, FDecimalSeparator);
    }
    // Tick arithmetic in 32 bits, so a wrap of the counter still gives the right difference.
    DWORD now = GetTickCount();
    FRateStr = FormatRate(
        static_cast<uint64_t>(RoundHalfEven(static_cast<double>(received) / (DWORD(now - start) + 1.0) * 1000.0)),
        FDecimalSeparator);
    now = GetTickCount();
    FTimeLeftStr = FormatTime(DWORD(now - start), total, received, DlgTimeSec, DlgTimeMin);
    now = GetTickCount();
    FElapsedTimeStr = FormatTime(DWORD(now - start), total, 0, DlgTimeSec, DlgTimeMin);
    FProgressPending = true;
    // Painting the lines and the caption after every chunk costs more than the chunk itself on a fast
    // link (a new caption alone is a round trip to the display); ten updates a second look the same
    // to the operator. The first chunk and the one that completes the file are shown at once.
    const bool complete = total > 0 && received >= total;
    if (!FProgressShownOnce || complete || DWORD(now - FLastRepaint) >= kRepaintIntervalMs)
        FlushProgress();
}

void TWebDownloader::CancelBtnClick() {
    // The press cancels the run even when the handler fails.
    struct SetCancelled {
        bool& flag;
        ~SetCancelled() { flag = true; }
    } cancel{FCancelled};
    if (OnCopyCancel)
        OnCopyCancel(this);
    // Refused while the run is active: the window goes when the engine has noticed the flag.
    SendMessageW(FForm, WM_CLOSE, 0, 0);
}

void TWebDownloader::CloseProgressForm() {
    FCancelIsClose = true;
    SendMessageW(FForm, WM_CLOSE, 0, 0);
    if (FMeasureDC) {
        DeleteDC(FMeasureDC);
        FMeasureDC = nullptr;
    }
    ProcessMessages();
}

}  // namespace memoline
