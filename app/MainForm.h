// The updater's one window: the picture, the welcome text, the installed version, the list of
// available updates and the Check, Install and Exit buttons.
#pragma once

#include <optional>
#include <string>

#include "app/ProxySignIn.h"
#include "app/SetupFolder.h"
#include "app/SingleInstance.h"
#include "app/SupportLog.h"
#include "app/UpdateLineParser.h"
#include "core/Handles.h"
#include "download/WebDownloader.h"
#include "system/AuthenticodeCheck.h"
#include "system/ProcessLauncher.h"
#include "ui/Button.h"
#include "ui/Form.h"
#include "ui/HtmlLabel.h"
#include "ui/Image.h"
#include "ui/ListGrid.h"
#include "ui/Panel.h"

namespace memoline {

// Control IDs: stable, so tests and an end-to-end driver find the controls by them.
enum TfrmMainControlId : int {
    kIdLeftPanel = 100,
    kIdImage = 101,
    kIdVersionNumberPanel = 102,
    kIdCopyrightPanel = 103,
    kIdButtonPanel = 104,
    kIdCheck = 105,
    kIdInstall = 106,
    kIdExit = 107,
    kIdMainPanel = 108,
    kIdIntroductionPanel = 109,
    kIdIntroductionGroup = 110,
    kIdIntroductionText = 111,
    kIdCurrentVersionPanel = 112,
    kIdCurrentVersionGroup = 113,
    kIdCurrentVersion = 114,
    kIdGridPanel = 115,
    kIdGridGroup = 116,
    kIdUpdates = 117,
    kIdStatus = 118,
};

class TfrmMain : public ui::TForm {
public:
    static constexpr const wchar_t* kWindowClass = L"TfrmMain";
    static constexpr const wchar_t* kCaption = L"Memoline Server Updates";
    static constexpr int kClientWidth = 1011;
    static constexpr int kClientHeight = 738;
    // In a work area too low for the whole window (1366 x 768 at 100 %, 1920 x 1080 at 150 %), the list
    // of updates gives up height and nothing else does, down to this height of its region: room for
    // the header and four rows (96-DPI units).
    static constexpr int kMinGridRegionHeight = 190;

    // Builds the window's controls; the window itself appears on Show().
    TfrmMain();
    ~TfrmMain() override;

    // Regions.
    ui::TPanel* LeftPanel;
    ui::TImage* img1;
    ui::TPanel* VersionNumberPanel;
    ui::TPanel* CopyrightPanel;
    ui::TPanel* ButtonPanel;
    ui::TPanel* MainPanel;
    // Buttons.
    ui::TButton* btnCheck;
    ui::TButton* btnInstall;
    ui::TButton* btnExit;
    // What a Check or an Install is doing right now, under the buttons; empty otherwise.
    ui::THtmlLabel* lblStatus;
    // Sections.
    ui::TPanel* IntroductionPanel;
    ui::TGroupBox* grpIntroduction;
    ui::THtmlLabel* htm1;
    ui::TPanel* CurrentVersionPanel;
    ui::TGroupBox* grp3;
    ui::THtmlLabel* lblCurrentVersion;
    ui::TPanel* GridPanel;
    ui::TGroupBox* grp2;
    ui::TListGrid* grdUpdates;
    // Columns of grdUpdates, by index.
    int colVersion, colBuild, colReleaseDate, colLink;

    // The installed product, read anew on each call.
    bool IsServerInstalled() const;
    bool IsClientInstalled() const;
    bool IsInstalled() const;
    std::wstring GetInstalledVersion() const;
    int CompareVersions(const std::wstring& a, const std::wstring& b) const;

    // Event handlers.
    void FormShow(TObject* Sender);
    void FormClose(TObject* Sender);
    void btnExitClick(TObject* Sender);
    void btnCheckClick(TObject* Sender);     // CheckWorkflow.cpp
    void grdUpdatesSelect(TObject* Sender);  // CheckWorkflow.cpp
    // The check itself: the catalogue's answer, the rows of the newer updates and the messages.
    void CheckForUpdates();                   // CheckWorkflow.cpp
    void AddUpdateRow(TUpdateEntry&& entry);  // CheckWorkflow.cpp
    void btnInstallClick(TObject* Sender);    // InstallWorkflow.cpp
    // The install's chain, InstallWorkflow.cpp.
    void WebDownloadConnectError(TObject* Sender);
    void WebDownloadCopyCancel(TObject* Sender);
    void WebDownloadCopyDone(TObject* Sender);
    void runInstallerFinished(TObject* Sender);
    void runDataUpdateFinished(TObject* Sender);

    // Components of the install, owned by the window.
    TWebDownloader* WebDownload;
    TProcessLauncher* runInstaller;
    TProcessLauncher* runDataUpdate;
    // The proxy's credentials for this run, asked for by the check and the download alike.
    TProxySignIn ProxySignIn;

    // The support log; tests point it elsewhere.
    TSupportLog Log;

protected:
    // The state of the current download, used by the install workflow.
    bool FDownloadCancelled = false;  // the operator cancelled it
    bool FDownloadError = false;      // the download address could not be reached
    std::wstring FDownloadFile;       // file name of the setup program being downloaded
    // The folder of this install's setup program; removed, with what it holds, when the install ends.
    std::unique_ptr<TSetupFolder> FSetupFolder;
    std::wstring FDownloadErrorText;  // the engine's text for the failure of the current download

    // Check and Install each run as a workflow that waits while the window stays usable. While one is
    // in progress, Check and Install do nothing and a close is held until it has ended.
    bool BeginWorkflow();  // false when a workflow is already in progress
    void EndWorkflow();    // carries out a held close
    // Ends the workflow in progress when the handler that ends it returns, by any road.
    class TWorkflowEnd {
    public:
        explicit TWorkflowEnd(TfrmMain* form) : FForm(form) {}
        TWorkflowEnd(const TWorkflowEnd&) = delete;
        TWorkflowEnd& operator=(const TWorkflowEnd&) = delete;
        ~TWorkflowEnd() { FForm->EndWorkflow(); }

    private:
        TfrmMain* FForm;
    };
    bool FWorkflowBusy = false;
    bool FCloseHeld = false;
    ui::TButton* FFocusBeforeWorkflow = nullptr;  // the button that had the focus when the workflow began
    // What the workflow in progress waits for, which decides what a close does.
    enum class TWorkPhase { Other, Check, Download, Programs };
    TWorkPhase FPhase = TWorkPhase::Other;
    void CloseDuringWorkflow();
    // Install is enabled while a row is selected and no workflow is in progress.
    bool FInstallAllowed = false;
    // The line under the buttons and the busy cursor over the window; an empty text clears both.
    void ShowWorkStatus(const std::wstring& text);
    bool FBusyCursor = false;
    // The log line of the start, written once the window is shown.
    static constexpr UINT kWmWriteStartLine = WM_APP + 1;
    std::wstring FStartLine;
    // Held from the download of an install to the end of its last program.
    TInstallLock FInstallLock;
    ULONGLONG FDownloadStartTicks = 0;
    std::wstring FUpdateName;  // the name of the update being installed, as listed

    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void CreateRegions();
    void CreateButtons();
    void CreateSections();
    void CreateGrid();
    void CreateInstallComponents();  // InstallWorkflow.cpp

    // The install's steps, InstallWorkflow.cpp.
    bool ConfirmAndStartDownload();  // false when the install ended before a download started
    bool StartDownload();
    std::wstring DownloadedSetupPath() const;
    // The one check of a downloaded setup program before it is started: its signature, against the
    // publisher this updater was built for. Leaves `setup` holding the file open against writers.
    // Empty when this build has the check turned off.
    std::optional<TSignatureCheck> VerifySetupProgram(const std::wstring& path, unique_file& setup);
    // Deletes the refused file and tells the operator why it was refused.
    void RefuseSetupProgram(const TSignatureCheck& check);
    void LaunchInstaller();
    // True when the setup program's folder holds nothing else; otherwise says so and logs it.
    bool SetupFolderHoldsOnlyTheSetup();
    void RemoveSetupFolder();
    void LaunchDataUpdate();
    void LaunchFailed(const TProcessLauncher& launcher, uint32_t errorCode);
    void ShowInstalledVersion();
    void ShowInstalledVersion(bool installed, const std::wstring& version);
    void RemoveInstalledRows();
    void LogDownloadEnd(const std::wstring& result);
};

// The one main window of the running updater (null before start-up creates it).
extern TfrmMain* frmMain;

// The path of the running program file.
std::wstring ProgramFilePath();

}  // namespace memoline
