// A top-level window: fixed client size, single fixed border, title bar with the system menu and
// the minimise button, centred in the work area of the monitor the operator works on, shown on the
// taskbar. A form of another kind (a dialog)
// gives its own window styles through GetCreateParams.
#pragma once

#include <functional>

#include "ui/Control.h"
#include "ui/WorkAreaFit.h"

namespace memoline::ui {

// Asked before a form closes; setting CanClose to false keeps it open.
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

class TForm : public TControl {
public:
    // `className` names the window class, so other processes can find the window by it.
    TForm(TComponent* owner, std::wstring className);
    ~TForm() override;

    // The client area's size; the window gets its frame around it.
    void SetClientSize(int width, int height);
    // The title bar's text: the client area is not painted again for it.
    void SetCaption(const std::wstring& caption) override;
    // Creates the window (if needed), centres it and shows it; OnShow runs before it is painted.
    void Show();
    // Creates the window (if needed) and places it in the work area of the monitor under the mouse
    // pointer, as PlaceInWorkArea does, without showing it.
    void CenterOnScreen();
    // Creates the window (if needed) and centres it in `workArea` (screen pixels). Where the work area
    // is too low for the whole window, the client area gives up height, down to the minimum client
    // height, and the client-docked controls shrink with it; the layout's own height comes back in a
    // work area that holds it, and at a DPI change.
    void PlaceInWorkArea(const RECT& workArea);
    // The client height the form may shrink to in a low work area (96-DPI units); 0, the default:
    // it keeps its whole height and only its title bar is kept inside.
    void SetMinClientHeight(int height) { minClientHeight_ = height; }
    // Closes the window as the close button does: OnCloseQuery may refuse; otherwise OnClose runs,
    // then the window is destroyed (a modal form is only ended, with the result IDCANCEL).
    void Close();

    // Shows the form modally over its owner (disabled meanwhile) and returns its modal result once a
    // control or Close has set one; the window is destroyed then. A quit request ends it with IDCANCEL
    // and is posted again for the application's loop.
    int ShowModal();
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }

    // The control that gets the keyboard focus when the form is shown, and when it is activated again
    // while the control that last had the focus is gone, hidden or disabled.
    void SetActiveControl(TControl* control) { activeControl_ = control; }
    // Gives the control the focus now when the form is the active window, else when it next is.
    void FocusControl(TControl* control);
    // The window of the form's control that has the focus, or that gets it back when the form is next
    // activated; null when there is none.
    HWND FocusedWindow() const;

    TNotifyEvent OnShow;
    TNotifyEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

protected:
    CreateParams GetCreateParams() override;
    // Made where CenterOnScreen puts it, at its size, so showing it does not move it again.
    RECT InitialWindowRect() override;
    // Takes the DPI of the monitor the window was made on, before its controls are made.
    void HandleCreated() override;
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    // Sizes the window so its client area is the layout's, at `position` (or where it is).
    void FitWindowToClient(const POINT* position);
    RECT WindowRectForClient();
    // Where the window goes in `workArea`, and the client height it keeps there.
    TWorkAreaFit FitIn(const RECT& workArea);
    // WM_CLOSE: OnCloseQuery may refuse; otherwise OnClose runs and the window goes (a modal form
    // only ends, with the result IDCANCEL).
    void CloseAsAsked();
    // The focus is the thread's, not the window's: it is kept when the form is deactivated (another
    // program, a message box, a dialog) and given back when it is activated, as a dialog does.
    void SaveFocus();
    bool RestoreFocus();  // false when no control of the form can take the focus
    // What Enter presses: the push button with the focus, else the enabled default button; null when
    // neither exists.
    TControl* DefaultButton();
    // The handlers of WndProc that take more than a few lines.
    LRESULT OnDpiChanged(WPARAM wp, LPARAM lp);
    LRESULT OnGetMinMaxInfo(WPARAM wp, LPARAM lp);
    bool OnActivate(WPARAM wp);                 // true when the focus went back to a control
    LRESULT OnGetObject(WPARAM wp, LPARAM lp);  // 0: not answered here
    LRESULT OnGetDefId();
    std::wstring className_;
    int minClientHeight_ = 0;
    TControl* activeControl_ = nullptr;
    HWND savedFocus_ = nullptr;
    int modalResult_ = 0;
    bool modal_ = false;
};

}  // namespace memoline::ui
