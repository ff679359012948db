// The application object: start-up of the UI (common controls, COM for the imaging component, the
// UI thread), the main form, and the message loop that runs until the main form is closed.
#pragma once

#include "ui/Form.h"

namespace memoline::ui {

class TApplication {
public:
    void Initialize();
    // The main form has its own taskbar button (no hidden application window exists anyway).
    bool MainFormOnTaskBar = true;
    // The form whose closing ends the message loop.
    TForm* MainForm() const { return mainForm_; }
    void SetMainForm(TForm* form) { mainForm_ = form; }
    // Shows the main form and dispatches messages until it is closed. Returns the exit code.
    int Run();
    // Dispatches the messages waiting now, without blocking.
    void ProcessMessages();

private:
    bool DispatchOne(MSG& msg);
    TForm* mainForm_ = nullptr;
};

TApplication& Application();

}  // namespace memoline::ui
