// Start-up: the application object, the visual style, the main window, the message loop.
#include <windows.h>

#include "app/MainForm.h"
#include "ui/Application.h"
#include "ui/Style.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace memoline;
    ui::TApplication& application = ui::Application();
    application.Initialize();
    application.MainFormOnTaskBar = true;
    // A missing style is reported by the engine; the window then keeps the default look.
    ui::TStyleManager::Engine().TrySetStyle(L"Flat UI Light");
    frmMain = new TfrmMain();
    application.SetMainForm(frmMain);
    int code = application.Run();
    application.SetMainForm(nullptr);
    delete frmMain;
    frmMain = nullptr;
    return code;
}
