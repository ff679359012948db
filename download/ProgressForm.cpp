#include "download/ProgressForm.h"

#include <windows.h>

#include "download/WebDownloader.h"
#include "ui/Dpi.h"

namespace memoline {
namespace {

constexpr int kFormWidth = 300;  // the window's outer width, W
constexpr int kLineHeight = 13;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

// The face of the stock dialog font, at 8 points.
ui::TFont DialogFont() {
    LOGFONTW lf{};
    std::wstring face = L"MS Shell Dlg";
    if (GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf) && lf.lfFaceName[0])
        face = lf.lfFaceName;
    return ui::TFont(face, MulDiv(8, ui::kDesignDpi, 72));
}

// V: the extra height of the time lines that are shown.
int TimeLinesHeight(const TWebDownloader& s) {
    return (s.ShowTime ? 20 : 0) + (s.ShowElapsedTime ? 20 : 0);
}

}  // namespace

TDownloadProgressForm::TDownloadProgressForm(const TWebDownloader& settings)
    : TForm(nullptr, kClassName),
      closeButton_(settings.DlgShowCloseBtn),
      onTop_(settings.ShowDialogOnTop),
      owner_(settings.DialogOwner) {
    SetFont(DialogFont());
    SizeWindow(settings);
    AddControls(settings);
    SetCaption(settings.DlgCaption + L" ...");
}

ui::TControl::CreateParams TDownloadProgressForm::GetCreateParams() {
    // A fixed dialog frame; the system menu (and with it the close box) only when closing is allowed.
    DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
    if (closeButton_)
        style |= WS_SYSMENU;
    // WS_EX_CONTROLPARENT: the message loops give it dialog keys, so Esc is Cancel and Tab reaches the
    // button. No WS_EX_COMPOSITED: under the desktop compositor it slows every paint and breaks the
    // painting of themed controls; the lines change at most four times a second and do not flicker.
    DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    if (onTop_)
        exStyle |= WS_EX_TOPMOST;
    return CreateParams{kClassName, style, exStyle, true, owner_};
}

// The window's outer size is fixed: W wide, and the caption bar, V and 145 high (20 less without
// Cancel). The form is sized by its client area, so the frame comes off that size.
void TDownloadProgressForm::SizeWindow(const TWebDownloader& s) {
    int height = ui::SystemMetricForDpi(SM_CYCAPTION, ui::kDesignDpi) + TimeLinesHeight(s) + 145;
    if (!s.DlgShowCancel)
        height -= 20;
    const CreateParams params = GetCreateParams();
    const RECT frame = ui::AdjustWindowRectForDpi(RECT{0, 0, 0, 0}, params.Style, params.ExStyle, ui::kDesignDpi);
    SetClientSize(kFormWidth - (frame.right - frame.left), height - (frame.bottom - frame.top));
}

// A line of text at the left margin; width 0 makes it as wide as its text.
ui::TLabel* TDownloadProgressForm::AddLine(int top, int width, const std::wstring& text, bool visible) {
    auto* line = new ui::TLabel(this, this);
    line->SetShowAccelChar(false);
    line->SetBounds(10, top, width, kLineHeight);
    line->SetAutoSize(width == 0);
    line->SetCaption(text);
    line->SetVisible(visible);
    return line;
}

void TDownloadProgressForm::AddControls(const TWebDownloader& s) {
    const int W = kFormWidth;
    const int V = TimeLinesHeight(s);
    const int B = s.ShowFileName ? 0 : 20;
    const int T = s.ShowFileName ? V + 100 : V + 80;
    // In this order: the tab order follows it.
    fileLine_ = AddLine(0, W - 20, s.DlgFileLabel, s.ShowFileName);
    sizeLine_ = AddLine(B + 40, 0, s.DlgProgressLabel, true);
    rateLine_ = AddLine(B + 60, 0, s.DlgRateLabel, true);
    timeLine_ = AddLine(B + 80, 0, s.DlgTimeLabel, s.ShowTime);
    elapsedLine_ = AddLine(B + 100, 0, s.DlgElapsedTimeLabel, s.ShowElapsedTime);
    cancelButton_ = new ui::TButton(this, this);
    cancelButton_->SetBounds(W - kButtonWidth - 20, T, kButtonWidth, kButtonHeight);
    cancelButton_->SetCaption(s.DlgCancel);
    cancelButton_->SetControlId(IDCANCEL);  // Esc presses it
    cancelButton_->SetVisible(s.DlgShowCancel);
    bar_ = new ui::TProgressBar(this, this);
    bar_->SetBounds(10, 20, W - 30, 12);
    bar_->SetRange(0, 100);
}

}  // namespace memoline
