#include "app/MainForm.h"

#include "app/CommonMethods.h"
#include "app/InstalledProduct.h"
#include "app/VersionCompare.h"
#include "catalogue/CatalogueConfig.h"
#include "catalogue/RequestLog.h"

namespace memoline {

TfrmMain* frmMain = nullptr;

namespace {

constexpr const wchar_t* kIntroduction =
    L"<B>Server Updates</B> helps you find and install the latest updates.<BR><BR>You can check for updates from "
    L"any computer, but <B>only the Server/Host PC can download and install them</B>.<BR><BR><B>Tip: </B>The "
    L"latest Server Update includes all previous updates \u2014 just install the newest one.";
constexpr const wchar_t* kCopyright = L"Copyright \u00A9 Memoline. All rights reserved.";
// The status line while a close waits for the setup and data-update programs to end.
constexpr const wchar_t* kClosesAfterInstall = L"The window closes when the installation has finished.";

template <typename T>
T* Make(TComponent* owner, ui::TControl* parent, int id) {
    auto* control = new T(owner, parent);
    control->SetControlId(id);
    return control;
}

// What only places its children and paints (the containers, the picture, the fixed welcome text) is
// drawn by the form, without a window of its own: each window costs about 2 ms of start-up to make
// and show. The texts that change, which other programs read, keep their windows.
template <typename T>
T* MakeWindowless(TComponent* owner, ui::TControl* parent, int id) {
    T* control = Make<T>(owner, parent, id);
    control->SetWindowless(true);
    return control;
}

}  // namespace

std::wstring ProgramFilePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return L"";
        // A result that fills the buffer may be cut short: try again with a larger one.
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

TfrmMain::TfrmMain() : ui::TForm(nullptr, kWindowClass) {
    SetCaption(kCaption);
    ui::TFont font(L"Segoe UI", 15);
    SetFont(font);
    SetClientSize(kClientWidth, kClientHeight);
    CreateRegions();
    CreateButtons();
    CreateSections();
    CreateGrid();
    CreateInstallComponents();
    Realign();
    // Laid out at 96 DPI so far, where pixels are the layout's units.
    SetMinClientHeight(kClientHeight - GridPanel->Height() + kMinGridRegionHeight);
    OnShow = [this](TObject* s) { FormShow(s); };
    OnClose = [this](TObject* s) { FormClose(s); };
    // The catalogue request reports its progress and failures to the support log; the access
    // password it posts never reaches the file.
    Log.AddSecret(kCataloguePassword);
    RequestLogEvent = [this](uint8_t level, const std::wstring& text) {
        Log.Write(std::wstring(level == kLogFailure ? L"Catalogue failure: " : L"Catalogue: ") + text);
    };
}

TfrmMain::~TfrmMain() {
    RequestLogEvent = nullptr;
}

void TfrmMain::CreateRegions() {
    // Created in docking order: bottom regions first take the full width, the lowest one first.
    LeftPanel = MakeWindowless<ui::TPanel>(this, this, kIdLeftPanel);
    LeftPanel->SetBounds(0, 0, 225, 0);
    LeftPanel->SetAlign(ui::TAlign::Left);
    img1 = MakeWindowless<ui::TImage>(this, LeftPanel, kIdImage);
    img1->SetBounds(0, 0, 0, 254);
    img1->SetAlign(ui::TAlign::Top);
    img1->LoadFromResource(L"PRODUCTIMAGE");

    CopyrightPanel = Make<ui::TPanel>(this, this, kIdCopyrightPanel);
    CopyrightPanel->SetBounds(0, 0, 0, 39);
    CopyrightPanel->SetAlign(ui::TAlign::Bottom);
    CopyrightPanel->SetCaption(kCopyright);
    VersionNumberPanel = Make<ui::TPanel>(this, this, kIdVersionNumberPanel);
    VersionNumberPanel->SetBounds(0, 0, 0, 34);
    VersionNumberPanel->SetAlign(ui::TAlign::Bottom);

    ButtonPanel = MakeWindowless<ui::TPanel>(this, this, kIdButtonPanel);
    ButtonPanel->SetBounds(0, 0, 123, 0);
    ButtonPanel->SetAlign(ui::TAlign::Right);
    MainPanel = MakeWindowless<ui::TPanel>(this, this, kIdMainPanel);
    MainPanel->SetAlign(ui::TAlign::Client);
}

void TfrmMain::CreateButtons() {
    struct Spec {
        ui::TButton** Field;
        int Id;
        int Top;
        const wchar_t* Caption;
        bool Enabled;
    };
    const Spec specs[] = {
        {&btnCheck, kIdCheck, 19, L"Check", true},
        {&btnInstall, kIdInstall, 57, L"Install", false},
        {&btnExit, kIdExit, 95, L"Exit", true},
    };
    for (const Spec& s : specs) {
        *s.Field = Make<ui::TButton>(this, ButtonPanel, s.Id);
        (*s.Field)->SetBounds(14, s.Top, 96, 32);
        (*s.Field)->SetCaption(s.Caption);
        (*s.Field)->SetEnabled(s.Enabled);
    }
    lblStatus = Make<ui::THtmlLabel>(this, ButtonPanel, kIdStatus);
    lblStatus->SetBounds(14, 139, 96, 120);
    lblStatus->SetCaption(L"");
    btnCheck->OnClick = [this](TObject* s) { btnCheckClick(s); };
    btnInstall->OnClick = [this](TObject* s) { btnInstallClick(s); };
    btnExit->OnClick = [this](TObject* s) { btnExitClick(s); };
    // Space and Enter work from the start, without a Tab first.
    SetActiveControl(btnCheck);
}

void TfrmMain::CreateSections() {
    IntroductionPanel = MakeWindowless<ui::TPanel>(this, MainPanel, kIdIntroductionPanel);
    IntroductionPanel->SetBounds(0, 0, 0, 177);
    IntroductionPanel->SetPadding(10, 10, 10, 5);
    IntroductionPanel->SetAlign(ui::TAlign::Top);
    grpIntroduction = MakeWindowless<ui::TGroupBox>(this, IntroductionPanel, kIdIntroductionGroup);
    grpIntroduction->SetCaption(L"Welcome");
    grpIntroduction->SetPadding(10, 10, 10, 10);
    grpIntroduction->SetAlign(ui::TAlign::Client);
    htm1 = MakeWindowless<ui::THtmlLabel>(this, grpIntroduction, kIdIntroductionText);
    htm1->SetCaption(kIntroduction);
    htm1->SetAlign(ui::TAlign::Client);

    CurrentVersionPanel = MakeWindowless<ui::TPanel>(this, MainPanel, kIdCurrentVersionPanel);
    CurrentVersionPanel->SetBounds(0, 0, 0, 78);
    CurrentVersionPanel->SetPadding(10, 5, 10, 5);
    CurrentVersionPanel->SetAlign(ui::TAlign::Top);
    grp3 = MakeWindowless<ui::TGroupBox>(this, CurrentVersionPanel, kIdCurrentVersionGroup);
    grp3->SetCaption(L"Current Version");
    grp3->SetAlign(ui::TAlign::Client);
    lblCurrentVersion = Make<ui::THtmlLabel>(this, grp3, kIdCurrentVersion);
    lblCurrentVersion->SetBounds(11, 32, 614, 25);
    lblCurrentVersion->SetCaption(L"Your current version is <b>5.9.0</b>");

    GridPanel = MakeWindowless<ui::TPanel>(this, MainPanel, kIdGridPanel);
    GridPanel->SetPadding(10, 5, 10, 10);
    GridPanel->SetAlign(ui::TAlign::Client);
    grp2 = MakeWindowless<ui::TGroupBox>(this, GridPanel, kIdGridGroup);
    grp2->SetCaption(L"Available Updates");
    grp2->SetPadding(10, 10, 10, 10);
    grp2->SetAlign(ui::TAlign::Client);
}

void TfrmMain::CreateGrid() {
    grdUpdates = Make<ui::TListGrid>(this, grp2, kIdUpdates);
    grdUpdates->SetAlign(ui::TAlign::Client);
    grdUpdates->SetEmptyCaption(L"Click the Check button to check for updates.");
    grdUpdates->SetAccessibleName(grp2->Caption());
    colVersion = grdUpdates->AddColumn(L"Server Update", ui::TAlignment::Left, 250);
    colBuild = grdUpdates->AddColumn(L"Build", ui::TAlignment::Center);
    colReleaseDate = grdUpdates->AddColumn(L"Release Date", ui::TAlignment::Center, 150);
    colLink = grdUpdates->AddColumn(L"Link", ui::TAlignment::Center, ui::TListGrid::kDefaultColumnWidth, false);
    grdUpdates->OnSelect = [this](TObject* s) { grdUpdatesSelect(s); };
}

bool TfrmMain::IsServerInstalled() const {
    return memoline::IsServerInstalled();
}
bool TfrmMain::IsClientInstalled() const {
    return memoline::IsClientInstalled();
}
bool TfrmMain::IsInstalled() const {
    return memoline::IsInstalled();
}
std::wstring TfrmMain::GetInstalledVersion() const {
    return memoline::GetInstalledVersion();
}
int TfrmMain::CompareVersions(const std::wstring& a, const std::wstring& b) const {
    return memoline::CompareVersions(a, b);
}

void TfrmMain::FormShow(TObject*) {
    const std::wstring ownVersion = GetFileVersionString(ProgramFilePath());
    VersionNumberPanel->SetCaption(L"Version " + ownVersion);
    // The installed program is looked at once, for the window and the log line.
    const bool installed = IsInstalled();
    const std::wstring installedVersion = installed ? GetInstalledVersion() : std::wstring();
    ShowInstalledVersion(installed, installedVersion);
    // Written once the window is on screen: the first line looks for the log's folder, which loads the
    // shell's library, and the operator need not wait for that. Posted before any input, it stays the
    // first line of the run.
    FStartLine = L"Memoline Server Updates " + ownVersion + L" started; installed version: " +
                 (installed ? installedVersion : std::wstring(L"none"));
    PostMessageW(Handle(), kWmWriteStartLine, 0, 0);
}

void TfrmMain::FormClose(TObject*) {
    // Nothing to save: closing the window ends the application.
}

LRESULT TfrmMain::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    // Closing (Exit, the title bar, the system menu) while a workflow waits would free the objects it
    // is using: the close ends the wait where it can, and is carried out when the workflow ends.
    if (msg == WM_CLOSE && FWorkflowBusy) {
        CloseDuringWorkflow();
        return 0;
    }
    if (msg == kWmWriteStartLine) {
        Log.Write(FStartLine);
        return 0;
    }
    // While work waits, the pointer over the window says so; the window stays usable meanwhile.
    if (msg == WM_SETCURSOR && FBusyCursor && LOWORD(lp) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
        return TRUE;
    }
    return ui::TForm::WndProc(msg, wp, lp);
}

void TfrmMain::CloseDuringWorkflow() {
    const bool first = !FCloseHeld;
    FCloseHeld = true;
    if (!first)
        return;
    switch (FPhase) {
        case TWorkPhase::Check:
            // The request's wait gives up on a quit request and leaves it for the main loop, which
            // then ends the application as a close does.
            PostQuitMessage(0);
            break;
        case TWorkPhase::Download:
            if (HWND cancel = WebDownload->ProgressCancelButton())
                PostMessageW(cancel, BM_CLICK, 0, 0);
            else
                WebDownload->CancelCopy();
            break;
        case TWorkPhase::Programs:
            // A setup broken off would leave the installation half changed: it runs to its end.
            ShowWorkStatus(kClosesAfterInstall);
            break;
        case TWorkPhase::Other:
            break;
    }
}

bool TfrmMain::BeginWorkflow() {
    if (FWorkflowBusy)
        return false;
    FWorkflowBusy = true;
    // Check and Install do nothing during a workflow: they show it. The focus leaves a button that
    // goes grey, so Tab still starts from a control that takes part; it comes back when the workflow
    // ends.
    HWND focus = FocusedWindow();
    FFocusBeforeWorkflow = nullptr;
    if (focus && (focus == btnCheck->Handle() || focus == btnInstall->Handle())) {
        FFocusBeforeWorkflow = focus == btnCheck->Handle() ? btnCheck : btnInstall;
        FocusControl(grdUpdates);
    }
    btnCheck->SetEnabled(false);
    btnInstall->SetEnabled(false);
    return true;
}

void TfrmMain::EndWorkflow() {
    FWorkflowBusy = false;
    RemoveSetupFolder();
    FPhase = TWorkPhase::Other;
    FInstallLock.Release();
    ShowWorkStatus(L"");
    btnCheck->SetEnabled(true);
    btnInstall->SetEnabled(FInstallAllowed);
    // Unless the operator moved it meanwhile, the focus goes back to the button that started the work.
    if (FFocusBeforeWorkflow && FFocusBeforeWorkflow->Enabled() && FocusedWindow() == grdUpdates->Handle())
        FocusControl(FFocusBeforeWorkflow);
    FFocusBeforeWorkflow = nullptr;
    // A close asked for during the workflow is carried out now, from the message loop, once every
    // handler of the workflow has returned.
    if (FCloseHeld) {
        FCloseHeld = false;
        PostMessageW(Handle(), WM_CLOSE, 0, 0);
    }
}

void TfrmMain::ShowWorkStatus(const std::wstring& text) {
    // Once a close waits for the programs, the line keeps saying so.
    if (FCloseHeld && FPhase == TWorkPhase::Programs && text != kClosesAfterInstall)
        return;
    lblStatus->SetCaption(text);
    FBusyCursor = !text.empty();
    // The pointer changes at once when it is over the window, not only at the next mouse move.
    POINT at{};
    if (HandleAllocated() && GetCursorPos(&at)) {
        HWND under = WindowFromPoint(at);
        if (under && GetAncestor(under, GA_ROOT) == Handle())
            SetCursor(LoadCursorW(nullptr, FBusyCursor ? IDC_APPSTARTING : IDC_ARROW));
    }
    // Shown before the wait begins, not at the wait's first message.
    if (lblStatus->HandleAllocated())
        UpdateWindow(lblStatus->Handle());
}

void TfrmMain::btnExitClick(TObject*) {
    Close();
}

}  // namespace memoline
