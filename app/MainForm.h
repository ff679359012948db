// The updater's one window: the picture, the welcome text, the installed version, the list of
// available updates and the Check, Install and Exit buttons.
#pragma once

#include <string>

#include "app/UpdateLineParser.h"
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
};

class TfrmMain : public ui::TForm {
public:
    static constexpr const wchar_t* kWindowClass = L"TfrmMain";
    static constexpr const wchar_t* kCaption = L"Memoline Server Updates";
    static constexpr int kClientWidth = 1011;
    static constexpr int kClientHeight = 738;

    // Builds the window's controls; the window itself appears on Show().
    TfrmMain();

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
    void btnCheckClick(TObject* Sender);      // CheckWorkflow.cpp
    void grdUpdatesSelect(TObject* Sender);   // CheckWorkflow.cpp
    // The check itself: the catalogue's answer, the rows of the newer updates and the messages.
    void CheckForUpdates();                         // CheckWorkflow.cpp
    void AddUpdateRow(const TUpdateEntry& entry);   // CheckWorkflow.cpp
    void btnInstallClick(TObject* Sender);    // InstallWorkflow.cpp

protected:
    // The state of the current download, used by the install workflow.
    bool FDownloadCancelled = false;  // the operator cancelled it
    bool FDownloadError = false;      // the download address could not be reached
    std::wstring FDownloadFile;       // file name of the setup program being downloaded

private:
    void CreateRegions();
    void CreateButtons();
    void CreateSections();
    void CreateGrid();
};

// The one main window of the running updater (null before start-up creates it).
extern TfrmMain* frmMain;

// The path of the running program file.
std::wstring ProgramFilePath();

}  // namespace memoline
