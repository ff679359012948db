// The install: downloads the chosen update's setup program into the temporary directory, runs it
// with "/silent", then the server's data-update program, and shows the version now installed. A
// chain of event handlers: the download engine's events start the setup program, the launchers'
// events carry the chain on.
#include "app/MainForm.h"

#include "app/CommonMethods.h"
#include "app/DownloadFileName.h"
#include "app/InstalledProduct.h"
#include "app/SetupSignerConfig.h"
#include "app/SupportLog.h"
#include "core/ErrorText.h"
#include "ui/MessageBox.h"

namespace memoline {

namespace {

constexpr const wchar_t* kNotServer = L"Server Updates can only be installed on your Server or Host PC.";
constexpr const wchar_t* kNoSelection = L"Please select a Server Update to install.";
constexpr const wchar_t* kConfirm = L"Are you sure you want to install this Server Update?";
constexpr const wchar_t* kBadLink = L"The download address of this Server Update is not valid.";
constexpr const wchar_t* kDownloading = L"Downloading.....";
constexpr const wchar_t* kUnreachable =
    L"Unable to connect to web server!  Please make sure you are connected to the Internet before trying again.";
constexpr const wchar_t* kCancelled = L"Download of setup program cancelled.";
constexpr const wchar_t* kNotDownloaded = L"The Server Update could not be downloaded.";
// A run that failed without an error of its own (an empty answer): still not a setup program.
constexpr const wchar_t* kNoData = L"The download ended without data.";
constexpr const wchar_t* kInstalled = L"Server Update has been installed.";
constexpr const wchar_t* kAnotherInstall = L"Another Server Update is being installed on this computer.";
constexpr const wchar_t* kNotInstalled = L"Memoline 5 is not installed on this computer.";
constexpr const wchar_t* kNotVerified = L"The Server Update could not be verified.";
constexpr const wchar_t* kDeclinedAtPrompt = L"The installation was cancelled at the Windows security prompt.";
constexpr const wchar_t* kFolderNotClean =
    L"The Server Update was not started: the folder of its setup program holds other files.";

// Exit codes of a setup program that installed: 0, and the two that ask for a restart.
constexpr uint32_t kErrorSuccessRebootRequired = 3010;
constexpr uint32_t kErrorSuccessRebootInitiated = 1641;

bool SetupSucceeded(uint32_t exitCode) {
    return exitCode == 0 || exitCode == kErrorSuccessRebootRequired || exitCode == kErrorSuccessRebootInitiated;
}

// The system's text for an error value, without its line break; "error N" when it has none.
std::wstring SystemErrorText(uint32_t code) {
    const std::wstring text = ErrorText(static_cast<long>(code));
    return text.empty() ? L"error " + std::to_wstring(code) : text;
}

// A system text as the end of a sentence.
std::wstring WithFullStop(std::wstring text) {
    if (!text.empty() && text.back() != L'.')
        text += L'.';
    return text;
}

// The one sentence that tells the operator why a setup program was refused.
std::wstring RefusalReason(const TSignatureCheck& check) {
    switch (check.Verdict) {
        case TSignatureVerdict::svNotSigned:
            return L"The setup program is not signed.";
        case TSignatureVerdict::svChanged:
            return L"The setup program has been changed since it was signed.";
        case TSignatureVerdict::svOtherPublisher:
            return L"The setup program is signed by another publisher: " + WithFullStop(check.Signer);
        case TSignatureVerdict::svNotTrusted:
            return L"The signing certificate is not trusted: " + WithFullStop(check.StatusText);
        case TSignatureVerdict::svNotChecked:
        case TSignatureVerdict::svVerified:
            break;
    }
    return L"The signature of the setup program could not be checked: " + WithFullStop(check.StatusText);
}

}  // namespace

void TfrmMain::CreateInstallComponents() {
    WebDownload = new TWebDownloader(this);
    WebDownload->Agent = L"WebDownload";
    WebDownload->HTTPKeepAliveAuthentication = true;
    WebDownload->AutoURLDecode = true;
    WebDownload->Timeout = 0;
    WebDownload->ShowFileName = false;
    WebDownload->ShowServer = false;
    WebDownload->ShowTime = true;
    WebDownload->ShowElapsedTime = true;
    WebDownload->ShowCompletion = true;
    WebDownload->DlgCancel = L"Cancel";
    WebDownload->DlgCompleted = L"completed";
    WebDownload->DlgFileOfLabel = L"of";
    WebDownload->DlgProgressLabel = L"Progress :";
    WebDownload->DlgRateLabel = L"Transfer rate :";
    WebDownload->DlgTimeLabel = L"Estimated time left :";
    WebDownload->DlgElapsedTimeLabel = L"Elapsed time :";
    WebDownload->DlgTimeSec = L"sec";
    WebDownload->DlgTimeMin = L"minutes";
    WebDownload->OnConnectError = [this](TObject* s) { WebDownloadConnectError(s); };
    WebDownload->OnProxyLogin = [this](TObject*, const std::wstring& proxy, bool again, std::wstring& user,
                                       std::wstring& password) {
        return ProxySignIn.Credentials(proxy, again, user, password);
    };
    WebDownload->OnURLNotFound = [this](TObject* s, const std::wstring&) { WebDownloadConnectError(s); };
    WebDownload->OnCopyCancel = [this](TObject* s) { WebDownloadCopyCancel(s); };
    WebDownload->OnCopyDone = [this](TObject* s) { WebDownloadCopyDone(s); };
    // The engine's error texts ("Returned http error code 404"), for the report of a failed download.
    WebDownload->OnErrorInfo = [this](TObject*, int, const std::wstring& info) { FDownloadErrorText = info; };

    auto makeLauncher = [this](TNotifyEvent finished) {
        auto* launcher = new TProcessLauncher(this);
        launcher->SetAction(L"Open");
        launcher->SetTimeout(-1);  // the setup program takes as long as it takes
        launcher->SetWaitType(TProcessWaitType::wtProcessMessages);
        launcher->SetWaitUntilFinished(true);
        launcher->OnFinished = std::move(finished);
        launcher->OnError = [this](TObject* sender, uint32_t code) {
            LaunchFailed(*static_cast<TProcessLauncher*>(sender), code);
        };
        return launcher;
    };
    runInstaller = makeLauncher([this](TObject* s) { runInstallerFinished(s); });
    runDataUpdate = makeLauncher([this](TObject* s) { runDataUpdateFinished(s); });
}

void TfrmMain::btnInstallClick(TObject*) {
    // A Check or an Install in progress (the window stays usable meanwhile): the press does nothing.
    if (!BeginWorkflow())
        return;
    bool downloading = false;
    try {
        downloading = ConfirmAndStartDownload();
    } catch (...) {
        EndWorkflow();
        throw;
    }
    // A started download ends the workflow in WebDownloadCopyDone.
    if (!downloading)
        EndWorkflow();
}

bool TfrmMain::ConfirmAndStartDownload() {
    if (!IsServerInstalled()) {
        ui::MessageDlg(kNotServer, ui::TMsgDlgType::Information, Handle());
        return false;
    }
    // A later Check may have emptied or refilled the grid, leaving Install enabled with no selection.
    if (grdUpdates->SelectedRow() < 0) {
        ui::MessageDlg(kNoSelection, ui::TMsgDlgType::Error, Handle());
        return false;
    }
    // One install per computer: two would write the same setup program and run two at once. Asked
    // before the confirmation, so the operator is not asked for nothing.
    if (!FInstallLock.TryAcquire()) {
        Log.Write(L"Install refused: another install is in progress on this computer");
        ui::MessageDlg(kAnotherInstall, ui::TMsgDlgType::Information, Handle());
        return false;
    }
    if (ui::MessageDlg(kConfirm, ui::TMsgDlgType::Confirmation, Handle()) != IDYES)
        return false;
    FDownloadCancelled = false;
    FDownloadError = false;
    return StartDownload();
}

bool TfrmMain::StartDownload() {
    const std::wstring link = grdUpdates->Cell(grdUpdates->SelectedRow(), colLink);
    FUpdateName = grdUpdates->Cell(grdUpdates->SelectedRow(), colVersion);
    FDownloadFile = LinkFileName(link);
    // The file is written into a folder of its own under this name and then started: a name that is
    // empty or could reach elsewhere never gets that far.
    if (!IsPlainFileName(FDownloadFile)) {
        ui::MessageDlg(kBadLink, ui::TMsgDlgType::Error, Handle());
        return false;
    }
    FSetupFolder = std::make_unique<TSetupFolder>(GetTempDirectory());
    if (FSetupFolder->Path().empty()) {
        const std::wstring reason = WithFullStop(SystemErrorText(FSetupFolder->Error()));
        FSetupFolder.reset();
        Log.Write(L"Download not started: no folder for the setup program: " + reason);
        ui::MessageDlg(std::wstring(kNotDownloaded) + L"\n\n" + reason, ui::TMsgDlgType::Error, Handle());
        return false;
    }
    WebDownload->Items().Clear();
    TWebDownloadItem* item = WebDownload->Items().Add();
    item->URL = link;
    item->Protocol = TWebDownloadProtocol::wpHttp;
    item->TargetDir = FSetupFolder->Path();
    item->TargetFilename = FDownloadFile;
    WebDownload->DlgCaption = kDownloading;
    WebDownload->DlgDownload = kDownloading;
    // The dialog belongs to this window: in front of it, not of every program, and this window is
    // active again when it closes.
    WebDownload->ShowDialogOnTop = false;
    WebDownload->DialogOwner = Handle();
    FDownloadErrorText.clear();
    ShowWorkStatus(L"Downloading " + FUpdateName + L" ...");
    Log.Write(L"Download: " + AddressForLog(link) + L" to " + item->TargetDir + FDownloadFile);
    FDownloadStartTicks = GetTickCount64();
    FPhase = TWorkPhase::Download;
    WebDownload->ThreadExecute();
    return true;
}

void TfrmMain::WebDownloadConnectError(TObject*) {
    FDownloadError = true;
    ui::MessageDlg(kUnreachable, ui::TMsgDlgType::Error, Handle());
}

void TfrmMain::WebDownloadCopyCancel(TObject*) {
    FDownloadCancelled = true;
    if (!FCloseHeld)  // cancelled by closing the window: it goes at once
        ui::MessageDlg(kCancelled, ui::TMsgDlgType::Information, Handle());
}

void TfrmMain::WebDownloadCopyDone(TObject*) {
    // The download run, and with it the whole install, ends when this handler returns.
    const TWorkflowEnd end(this);
    if (FDownloadCancelled || FDownloadError) {
        LogDownloadEnd(FDownloadCancelled ? L"cancelled" : L"the address cannot be reached");
        return;
    }
    // Only a completed download is installed: after an error status, a file that could not be
    // written or an incomplete transfer, a setup program left by an earlier install may lie there.
    const bool success = WebDownload->Items().Count() > 0 && WebDownload->Items()[0]->Success();
    if (!success) {
        const std::wstring reason = FDownloadErrorText.empty() ? std::wstring(kNoData) : FDownloadErrorText;
        LogDownloadEnd(L"failed: " + reason);
        ui::MessageDlg(std::wstring(kNotDownloaded) + L"\n\n" + reason, ui::TMsgDlgType::Error, Handle());
        return;
    }
    LogDownloadEnd(L"completed");
    // Held open against writers from the check until the setup program has ended, so the file that
    // runs is the file that was checked.
    unique_file setup;
    const std::optional<TSignatureCheck> check = VerifySetupProgram(DownloadedSetupPath(), setup);
    if (!check)
        Log.Write(L"Verification: not checked (this build names no signer)");
    else if (check->Passed() && check->UncheckedRevocation != 0)
        Log.Write(L"Verification passed without a revocation check of the signer: " +
                  TrustErrorText(check->UncheckedRevocation));
    else if (check->Passed())
        Log.Write(L"Verification passed");
    else
        Log.Write(L"Verification failed: " + RefusalReason(*check));
    if (check && !check->Passed()) {
        setup.reset();  // lets the file be deleted
        RefuseSetupProgram(*check);
        return;
    }
    LaunchInstaller();
}

void TfrmMain::LogDownloadEnd(const std::wstring& result) {
    const std::wstring path = DownloadedSetupPath();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    unsigned long long bytes = 0;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const ULONGLONG ms = GetTickCount64() - FDownloadStartTicks;
    wchar_t seconds[32];
    swprintf(seconds, 32, L"%.1f", static_cast<double>(ms) / 1000.0);
    Log.Write(L"Download " + result + L": " + std::to_wstring(bytes) + L" bytes in " + seconds + L" seconds");
}

std::wstring TfrmMain::DownloadedSetupPath() const {
    return FSetupFolder ? FSetupFolder->Path() + FDownloadFile : std::wstring();
}

bool TfrmMain::SetupFolderHoldsOnlyTheSetup() {
    const std::vector<std::wstring> others = FSetupFolder->OtherEntries(FDownloadFile);
    if (others.empty())
        return true;
    Log.Write(L"Setup not started: " + FSetupFolder->Path() + L" holds " + others.front() +
              (others.size() > 1 ? L" and " + std::to_wstring(others.size() - 1) + L" more" : L""));
    ui::MessageDlg(kFolderNotClean, ui::TMsgDlgType::Error, Handle());
    return false;
}

void TfrmMain::RemoveSetupFolder() {
    if (!FSetupFolder)
        return;
    const std::wstring path = FSetupFolder->Path();
    if (!FSetupFolder->Remove()) {
        // A setup program that left a process running may still hold a file there.
        Log.Write(L"Could not remove " + path);
    }
    FSetupFolder.reset();
}

std::optional<TSignatureCheck> TfrmMain::VerifySetupProgram(const std::wstring& path, unique_file& setup) {
    if (*kSetupSigner == L'\0')
        return std::nullopt;  // this build starts setup programs unchecked (and said so when built)
    // Sharing reads only: nobody can change or replace the file while it is held.
    setup.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!setup) {
        const DWORD error = GetLastError();
        TSignatureCheck failed;
        failed.Verdict = TSignatureVerdict::svNotChecked;
        failed.TrustStatus = static_cast<LONG>(HRESULT_FROM_WIN32(error));
        failed.StatusText = SystemErrorText(error);
        return failed;
    }
    return VerifyAuthenticodeOffThread(setup.get(), path, kSetupSigner);
}

void TfrmMain::RefuseSetupProgram(const TSignatureCheck& check) {
    // What failed the check must not be started later by mistake, by this updater or by hand.
    DeleteFileW(DownloadedSetupPath().c_str());
    ui::MessageDlg(std::wstring(kNotVerified) + L"\n\n" + RefusalReason(check), ui::TMsgDlgType::Error, Handle());
}

void TfrmMain::LaunchInstaller() {
    // Checked last before the start: the setup program loads DLLs from its own folder first.
    if (!SetupFolderHoldsOnlyTheSetup())
        return;
    runInstaller->SetFileName(DownloadedSetupPath());
    runInstaller->SetParameters(L"/silent");
    FPhase = TWorkPhase::Programs;
    ShowWorkStatus(L"Installing " + FUpdateName + L" ...");
    Log.Write(L"Starting " + runInstaller->FileName() + L" " + runInstaller->Parameters());
    runInstaller->SetOwnerWindow(Handle());  // the consent prompt opens over this window
    runInstaller->Launch();
}

void TfrmMain::runInstallerFinished(TObject*) {
    const uint32_t exitCode = runInstaller->ExitCode();
    Log.Write(runInstaller->FileName() + L" ended with exit code " + std::to_wstring(exitCode));
    if (!SetupSucceeded(exitCode)) {
        ShowWorkStatus(L"");
        // The setup program may have changed the installation before it failed.
        ShowInstalledVersion();
        ui::MessageDlg(
            L"The Server Update could not be installed (setup exit code " + std::to_wstring(exitCode) + L").",
            ui::TMsgDlgType::Error, Handle());
        return;
    }
    LaunchDataUpdate();
}

void TfrmMain::LaunchDataUpdate() {
    runDataUpdate->SetFileName(kDataUpdateProgramPath);
    // Only the program itself: the shell would open a folder of that name, or look for another file.
    const DWORD attributes = GetFileAttributesW(kDataUpdateProgramPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        LaunchFailed(*runDataUpdate, ERROR_FILE_NOT_FOUND);
        return;
    }
    runDataUpdate->SetParameters(L"");
    ShowWorkStatus(L"Updating the data ...");
    Log.Write(L"Starting " + runDataUpdate->FileName());
    runDataUpdate->SetOwnerWindow(Handle());
    runDataUpdate->Launch();
}

void TfrmMain::runDataUpdateFinished(TObject*) {
    Log.Write(runDataUpdate->FileName() + L" ended with exit code " + std::to_wstring(runDataUpdate->ExitCode()));
    ShowWorkStatus(L"");
    ShowInstalledVersion();
    RemoveInstalledRows();
    Log.Write(L"Installed " + FUpdateName + L"; installed version now " + GetInstalledVersion());
    if (!FCloseHeld)  // the window waited only for this end to close
        ui::MessageDlg(kInstalled, ui::TMsgDlgType::Information, Handle());
}

void TfrmMain::RemoveInstalledRows() {
    // The rule of the check, against the version now installed: what is not newer goes.
    const std::wstring installed = GetInstalledVersion();
    grdUpdates->SetSelectedRow(-1);
    for (int row = grdUpdates->RowCount() - 1; row >= 0; --row) {
        if (CompareVersions(grdUpdates->Cell(row, colBuild), installed) <= 0)
            grdUpdates->DeleteRow(row);
    }
    FInstallAllowed = false;
    btnInstall->SetEnabled(false);
    if (grdUpdates->RowCount() == 0)
        grdUpdates->SetEmptyCaption(L"There are no newer versions available.");
}

void TfrmMain::LaunchFailed(const TProcessLauncher& launcher, uint32_t errorCode) {
    // The setup program has run when the data-update program cannot be started: show what it left.
    if (&launcher == runDataUpdate)
        ShowInstalledVersion();
    const std::wstring reason = SystemErrorText(errorCode);
    Log.Write(L"Could not start " + launcher.FileName() + L": " + reason);
    ShowWorkStatus(L"");
    // The operator said No at the consent prompt: no fault to explain, only what became of the install.
    if (errorCode == ERROR_CANCELLED) {
        ui::MessageDlg(kDeclinedAtPrompt, ui::TMsgDlgType::Information, Handle());
        return;
    }
    ui::MessageDlg(L"Unable to start " + launcher.FileName() + L": " + reason, ui::TMsgDlgType::Error, Handle());
}

void TfrmMain::ShowInstalledVersion() {
    const bool installed = IsInstalled();
    ShowInstalledVersion(installed, installed ? GetInstalledVersion() : std::wstring());
}

void TfrmMain::ShowInstalledVersion(bool installed, const std::wstring& version) {
    if (!installed) {
        lblCurrentVersion->SetCaption(kNotInstalled);
        return;
    }
    lblCurrentVersion->SetCaption(L"You currently have Version <b>" + version + L"</b> installed.");
}

}  // namespace memoline
