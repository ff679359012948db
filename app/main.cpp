// Start-up: the application object, the visual style, the main window, the message loop.
#include <windows.h>

#include "app/MainForm.h"
#include "app/SingleInstance.h"
#include "app/SystemDllSearch.h"
#include "ui/Application.h"
#include "ui/Style.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace memoline;
    // Before anything can load a DLL by name.
    RestrictDllSearchToSystemFolder();
    // Started again in the same logon session (a double double-click): the running updater comes to
    // the front and this one ends, before it shows anything.
    TSessionInstance instance;
    if (!instance.First()) {
        BringRunningUpdaterForward();
        return 0;
    }
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
