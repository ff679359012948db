#include "download/ProgressDialog.h"

#include "download/DownloadText.h"
#include "download/ProgressForm.h"
#include "download/WebDownloader.h"

namespace memoline {
namespace {

constexpr DWORD kRepaintIntervalMs = 250;  // at most four updates of the lines a second

wchar_t UserDecimalSeparator() {
    wchar_t text[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) > 1 && text[0])
        return text[0];
    return L'.';
}

}  // namespace

TDownloadProgressDialog::TDownloadProgressDialog(TWebDownloader& engine) : engine_(engine) {}

TDownloadProgressDialog::~TDownloadProgressDialog() = default;

void TDownloadProgressDialog::CreateProgressForm() {
    form_ = std::make_unique<TDownloadProgressForm>(engine_);
    // Closing is refused while the run needs the window; the run allows it at its end.
    form_->OnCloseQuery = [this](TObject*, bool& canClose) { canClose = engine_.DlgShowCloseBtn || cancelIsClose_; };
    form_->CancelButton().OnClick = [this](TObject*) {
        if (OnCancel)
            OnCancel(&engine_);
    };
    cancelIsClose_ = false;
    form_->CenterOnScreen();  // makes the window, hidden
    // Texts of the last run not yet read keep the separator they were made for.
    FormatTexts();
    decimalSeparator_ = UserDecimalSeparator();
    // A new bar starts at 0, and so does the percentage the caption shows: a run without a length
    // never moves it and must not show the last run's value.
    barPos_ = 0;
    captionText_ = form_->Caption();
    if (engine_.ShowDialog)
        ShowForm();
}

void TDownloadProgressDialog::ShowForm() {
    const HWND window = form_->Handle();
    if (engine_.OnBeforeDialogShow)
        engine_.OnBeforeDialogShow(&engine_, window);
    // Where the handler may have placed it: shown as it is, not centred again.
    ShowWindow(window, SW_SHOW);
    if (engine_.AlwaysOnTop) {
        RECT r;
        GetWindowRect(window, &r);
        SetWindowPos(window, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top, 0);
    }
}

void TDownloadProgressDialog::SetCaption(const std::wstring& caption) {
    // The caption changes with the whole percentage only; setting the same text again would just
    // repaint the frame.
    if (!form_ || caption == captionText_)
        return;
    captionText_ = caption;
    form_->SetCaption(caption);
}

void TDownloadProgressDialog::SetFileLine(int fileNum,
                                          int itemCount,
                                          int activeItems,
                                          const std::wstring& displayName,
                                          const std::wstring& url) {
    if (!form_)
        return;
    std::wstring prefix;
    if (itemCount >= 2)
        prefix =
            std::to_wstring(fileNum) + L" " + engine_.DlgFileOfLabel + L" " + std::to_wstring(activeItems) + L" : ";
    form_->FileLine().SetCaption(prefix);
    std::wstring line = engine_.DlgFileLabel + L" " + prefix + displayName;
    if (engine_.ShowServer)
        line += L" " + engine_.DlgFromServerLabel + L" " + download::ExtractURLHost(url);
    form_->FileLine().SetCaption(line);
}

void TDownloadProgressDialog::SetBarStyle(bool marquee) {
    progressShownOnce_ = false;  // a new body: its first chunk is shown at once
    if (form_)
        form_->Bar().SetMarquee(marquee);
}

void TDownloadProgressDialog::ShowTransferProgress(uint64_t received, uint32_t total, DWORD start) {
    using download::RoundHalfEven;
    if (total > 0) {
        auto position = RoundHalfEven(static_cast<double>(received) / total * 100.0);
        barPos_ = static_cast<int>(position < 0 ? 0 : position > 100 ? 100 : position);  // the bar's range
    }
    // Tick arithmetic in 32 bits, so a wrap of the counter still gives the right difference.
    const DWORD now = GetTickCount();
    received_ = received;
    total_ = total;
    elapsedMs_ = DWORD(now - start);
    textsStale_ = true;
    progressPending_ = true;
    // Painting the lines and the caption after every chunk costs more than the chunk itself on a fast
    // link (a new caption alone is a round trip to the display). One update, with the paints it
    // causes, takes about 4 ms under Wine: ten a second held a fast transfer back by 4 to 5 per cent,
    // four a second by under 2, and still read as steady progress. The first chunk and the one that
    // completes the file are shown at once.
    const bool complete = total > 0 && received >= total;
    if (!progressShownOnce_ || complete || DWORD(now - lastRepaint_) >= kRepaintIntervalMs)
        FlushProgress();
}

void TDownloadProgressDialog::FormatTexts() const {
    using download::FormatRate;
    using download::FormatTime;
    using download::RoundHalfEven;
    if (!textsStale_)
        return;
    textsStale_ = false;
    const TWebDownloader& s = engine_;
    rateStr_ =
        FormatRate(static_cast<uint64_t>(RoundHalfEven(static_cast<double>(received_) / (elapsedMs_ + 1.0) * 1000.0)),
                   decimalSeparator_);
    timeLeftStr_ = FormatTime(elapsedMs_, total_, received_, s.DlgTimeSec, s.DlgTimeMin);
    elapsedTimeStr_ = FormatTime(elapsedMs_, total_, 0, s.DlgTimeSec, s.DlgTimeMin);
}

const std::wstring& TDownloadProgressDialog::RateStr() const {
    FormatTexts();
    return rateStr_;
}
const std::wstring& TDownloadProgressDialog::TimeLeftStr() const {
    FormatTexts();
    return timeLeftStr_;
}
const std::wstring& TDownloadProgressDialog::ElapsedTimeStr() const {
    FormatTexts();
    return elapsedTimeStr_;
}

void TDownloadProgressDialog::SetLine(ui::TLabel& line, const std::wstring& text) {
    if (line.Caption() != text)
        line.SetCaption(text);
}

void TDownloadProgressDialog::FlushProgress() {
    using download::FormatSize;
    if (!progressPending_)
        return;
    progressPending_ = false;
    progressShownOnce_ = true;
    lastRepaint_ = GetTickCount();
    if (!form_)
        return;
    const TWebDownloader& s = engine_;
    if (s.ShowCompletion)
        SetCaption(s.DlgDownload + L" : " + std::to_wstring(barPos_) + L"% " + s.DlgCompleted);
    form_->Bar().SetPosition(barPos_);
    std::wstring size = s.DlgProgressLabel + L" " + FormatSize(received_, decimalSeparator_);
    if (total_ > 0)
        size += L" " + s.DlgFileOfLabel + L" " + FormatSize(total_, decimalSeparator_);
    SetLine(form_->SizeLine(), size);
    SetLine(form_->RateLine(), s.DlgRateLabel + L" " + RateStr());
    SetLine(form_->TimeLine(), s.DlgTimeLabel + L" " + TimeLeftStr());
    SetLine(form_->ElapsedLine(), s.DlgElapsedTimeLabel + L" " + ElapsedTimeStr());
}

void TDownloadProgressDialog::RequestClose() {
    if (form_)
        form_->Close();
}

void TDownloadProgressDialog::CloseProgressForm() {
    cancelIsClose_ = true;
    // Handed on before the window goes: were the system to pick the next window, it could be another
    // program's, and the next message box or consent prompt would open behind it.
    const HWND window = form_ ? TDownloadProgressForm::WindowOf(*form_) : nullptr;
    const HWND owner = engine_.DialogOwner;
    if (window && owner && IsWindow(owner) && GetForegroundWindow() == window)
        SetForegroundWindow(owner);
    RequestClose();
    form_.reset();
    TWebDownloader::ProcessMessages();
}

// The engine's view of its dialog's windows, for its owner and tests.

namespace {
HWND WindowOfPart(const TDownloadProgressDialog& dialog, ui::TControl& (*part)(TDownloadProgressForm&)) {
    TDownloadProgressForm* form = dialog.Form();
    return form ? TDownloadProgressForm::WindowOf(part(*form)) : nullptr;
}
}  // namespace

HWND TWebDownloader::ProgressForm() const {
    return WindowOfPart(*FDialog, [](TDownloadProgressForm& f) -> ui::TControl& { return f; });
}
HWND TWebDownloader::ProgressBar() const {
    return WindowOfPart(*FDialog, [](TDownloadProgressForm& f) -> ui::TControl& { return f.Bar(); });
}
HWND TWebDownloader::ProgressFileLabel() const {
    return WindowOfPart(*FDialog, [](TDownloadProgressForm& f) -> ui::TControl& { return f.FileLine(); });
}
HWND TWebDownloader::ProgressSizeLabel() const {
    return WindowOfPart(*FDialog, [](TDownloadProgressForm& f) -> ui::TControl& { return f.SizeLine(); });
}
HWND TWebDownloader::ProgressRateLabel() const {
    return WindowOfPart(*FDialog, [](TDownloadProgressForm& f) -> ui::TControl& { return f.RateLine(); });
}
HWND TWebDownloader::ProgressTimeLabel() const {
    return WindowOfPart(*FDialog, [](TDownloadProgressForm& f) -> ui::TControl& { return f.TimeLine(); });
}
HWND TWebDownloader::ProgressElapsedTimeLabel() const {
    return WindowOfPart(*FDialog, [](TDownloadProgressForm& f) -> ui::TControl& { return f.ElapsedLine(); });
}
HWND TWebDownloader::ProgressCancelButton() const {
    return WindowOfPart(*FDialog, [](TDownloadProgressForm& f) -> ui::TControl& { return f.CancelButton(); });
}

}  // namespace memoline
