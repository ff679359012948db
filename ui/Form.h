// A top-level window: fixed client size, single fixed border, title bar with the system menu and
// the minimise button, centred on the screen, shown on the taskbar.
#pragma once

#include "ui/Control.h"

namespace memoline::ui {

class TForm : public TControl {
public:
    // `className` names the window class, so other processes can find the window by it.
    TForm(TComponent* owner, std::wstring className);
    ~TForm() override;

    // The client area's size; the window gets its frame around it.
    void SetClientSize(int width, int height);
    // Creates the window (if needed), centres it and shows it; OnShow runs before it is painted.
    void Show();
    // Closes the window as the close button does: OnClose runs, then the window is destroyed.
    void Close();

    TNotifyEvent OnShow;
    TNotifyEvent OnClose;

protected:
    CreateParams GetCreateParams() override;
    // Takes the DPI of the monitor the window was made on, before its controls are made.
    void HandleCreated() override;
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    // Sizes the window so its client area is the layout's, at `position` (or where it is).
    void FitWindowToClient(const POINT* position);
    std::wstring className_;
};

}  // namespace memoline::ui
