// The modal login dialog the download engine shows when a server asks for credentials: a form of the
// UI framework with a banner, the user name and password boxes, OK and Cancel.
#pragma once

#include <windows.h>

#include <string>

#include "ui/Edit.h"
#include "ui/Form.h"

namespace memoline {

class TDownloadLoginForm : public ui::TForm {
public:
    // Control ids, so a test (or an accessibility tool) can find the edits and buttons.
    static constexpr int kUserNameId = 101;  // Edit1
    static constexpr int kPasswordId = 102;  // Edit2
    static constexpr int kImageId = 103;     // Image1, the banner
    static constexpr wchar_t kClassName[] = L"TDownloadLoginForm";

    // The dialog over the window that is active now, with this caption.
    explicit TDownloadLoginForm(std::wstring caption);

    // What was entered when the dialog was closed with OK (ShowModal gave IDOK).
    const std::wstring& UserName() const { return userName_; }
    const std::wstring& Password() const { return password_; }

protected:
    CreateParams GetCreateParams() override;
    COLORREF BackgroundColor() const override { return GetSysColor(COLOR_BTNFACE); }

private:
    void SizeWindow();
    void AddControls();
    void Finish(int result);

    HWND owner_;
    ui::TEdit* userEdit_ = nullptr;
    ui::TEdit* passwordEdit_ = nullptr;
    std::wstring userName_;
    std::wstring password_;
};

}  // namespace memoline
