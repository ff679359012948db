// The modal login dialog the download engine shows when a server asks for credentials.
#pragma once

#include <windows.h>

#include <string>

namespace memoline {

class TDownloadLoginForm {
public:
    // Control ids, so a test (or an accessibility tool) can find the edits and buttons.
    static constexpr int kUserNameId = 101;  // Edit1
    static constexpr int kPasswordId = 102;  // Edit2
    static constexpr int kImageId = 103;     // Image1, the banner

    explicit TDownloadLoginForm(std::wstring caption);
    ~TDownloadLoginForm();
    TDownloadLoginForm(const TDownloadLoginForm&) = delete;
    TDownloadLoginForm& operator=(const TDownloadLoginForm&) = delete;

    // Shows the dialog modally over the active window; true when closed with OK.
    bool ShowModal();
    const std::wstring& UserName() const { return userName_; }
    const std::wstring& Password() const { return password_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void CreateControls();
    void Finish(int result);

    std::wstring caption_;
    std::wstring userName_;
    std::wstring password_;
    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    int result_ = 0;  // 0 while open, IDOK or IDCANCEL once closed
};

}  // namespace memoline
