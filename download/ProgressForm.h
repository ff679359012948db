// The progress window of a download run: a form of the UI framework with the file line, the bar, the
// size, rate, time-left and elapsed lines and the Cancel button, laid out from the engine's texts and
// switches as they are when the run starts. It shows what TDownloadProgressDialog gives it.
#pragma once

#include "ui/Button.h"
#include "ui/Form.h"
#include "ui/Label.h"
#include "ui/ProgressBar.h"

namespace memoline {

class TWebDownloader;

class TDownloadProgressForm : public ui::TForm {
public:
    // Window class name, so a test (or another process) can find the window.
    static constexpr wchar_t kClassName[] = L"TWebDownloadProgressForm";

    // Builds the controls from `settings`; the window itself is made by CenterOnScreen or Show.
    explicit TDownloadProgressForm(const TWebDownloader& settings);

    ui::TLabel& FileLine() { return *fileLine_; }
    ui::TLabel& SizeLine() { return *sizeLine_; }
    ui::TLabel& RateLine() { return *rateLine_; }
    ui::TLabel& TimeLine() { return *timeLine_; }
    ui::TLabel& ElapsedLine() { return *elapsedLine_; }
    ui::TButton& CancelButton() { return *cancelButton_; }
    ui::TProgressBar& Bar() { return *bar_; }

    // The window of a control while it exists, else null (never makes one).
    static HWND WindowOf(ui::TControl& control) { return control.HandleAllocated() ? control.Handle() : nullptr; }

protected:
    CreateParams GetCreateParams() override;
    // The system window colour, under any style.
    COLORREF BackgroundColor() const override { return GetSysColor(COLOR_WINDOW); }

private:
    void SizeWindow(const TWebDownloader& settings);
    ui::TLabel* AddLine(int top, int width, const std::wstring& text, bool visible);
    void AddControls(const TWebDownloader& settings);

    bool closeButton_;  // the system menu with its close box
    bool onTop_;        // stays on top of other windows
    HWND owner_;        // the window it belongs to; null for none
    ui::TLabel* fileLine_ = nullptr;
    ui::TLabel* sizeLine_ = nullptr;
    ui::TLabel* rateLine_ = nullptr;
    ui::TLabel* timeLine_ = nullptr;
    ui::TLabel* elapsedLine_ = nullptr;
    ui::TButton* cancelButton_ = nullptr;
    ui::TProgressBar* bar_ = nullptr;
};

}  // namespace memoline
