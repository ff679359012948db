// The update check: asks the catalogue for server updates and lists the newer ones.
#include <string>
#include <utility>
#include <vector>

#include "app/MainForm.h"
#include "app/SupportLog.h"
#include "app/UpdateLineParser.h"
#include "catalogue/UpdateRequestHelper.h"
#include "ui/MessageBox.h"

namespace memoline {

void TfrmMain::btnCheckClick(TObject*) {
    // A Check or an Install in progress (the window stays usable meanwhile): the press does nothing.
    if (!BeginWorkflow())
        return;
    const TWorkflowEnd end(this);
    FPhase = TWorkPhase::Check;
    CheckForUpdates();
}

void TfrmMain::CheckForUpdates() {
    if (!IsInstalled()) {
        ui::MessageDlg(L"Unable to location Memoline on this computer.", ui::TMsgDlgType::Error, Handle());
        return;
    }
    const std::wstring installedVersion = GetInstalledVersion();
    ShowWorkStatus(L"Checking for updates...");
    // The grid is where the answer will appear: while it is empty it says what is going on.
    if (grdUpdates->RowCount() == 0)
        grdUpdates->SetEmptyCaption(L"Checking for updates...");
    Log.Write(L"Check: asking " + AddressForLog(CatalogueAddress) + L" (installed version " + installedVersion + L")");
    const TServerUpdates response = RequestServerUpdates(
        [this](TObject*, const std::wstring& proxy, bool again, std::wstring& user, std::wstring& password) {
            return ProxySignIn.Credentials(proxy, again, user, password);
        });
    ShowWorkStatus(L"");
    {
        // The whole list is one update of the grid, painted once at the end: however long the
        // catalogue, listing it costs about as much as reading it.
        ui::TListGridUpdate listing(*grdUpdates);
        grdUpdates->ClearRows();
        if (response.Succeeded) {
            for (const auto& line : response.Lines) {
                if (auto entry = ParseUpdateLine(line, installedVersion))
                    AddUpdateRow(std::move(*entry));
            }
        }
    }
    if (FCloseHeld)
        return;  // the window is closing: the request was given up, nobody is there to read about it
    // A failed request is no answer about updates: say so instead of "You have the latest".
    if (!response.Succeeded) {
        Log.Write(L"Check failed: " + response.FailureMessage);
        grdUpdates->SetEmptyCaption(L"Unable to check for updates.");
        ui::MessageDlg(L"Unable to check for updates.\r\n\r\n" + response.FailureMessage, ui::TMsgDlgType::Error,
                       Handle());
        return;
    }
    const int rows = grdUpdates->RowCount();
    Log.Write(L"Check succeeded: " + std::to_wstring(response.Lines.size()) + L" lines, " + std::to_wstring(rows) +
              L" newer updates");
    if (rows == 0) {
        grdUpdates->SetEmptyCaption(L"There are no newer versions available.");
        ui::MessageDlg(L"You have the latest Server Update.", ui::TMsgDlgType::Information, Handle());
        return;
    }
    grdUpdates->SetEmptyCaption(L"");
    const std::wstring text = rows == 1 ? std::wstring(L"There is one Server Updates available.")
                                        : L"There are " + std::to_wstring(rows) + L" Server Updates available.";
    ui::MessageDlg(text, ui::TMsgDlgType::Information, Handle());
}

void TfrmMain::AddUpdateRow(TUpdateEntry&& entry) {
    // One row, its cells filled by column index; the texts move into the grid, no copies (a long
    // catalogue has thousands of rows).
    std::vector<std::wstring> cells(grdUpdates->ColumnCount());
    cells[colVersion] = std::move(entry.Version);
    cells[colBuild] = std::move(entry.Build);
    cells[colReleaseDate] = std::move(entry.ReleaseDate);
    cells[colLink] = std::move(entry.Link);
    grdUpdates->AddRow(std::move(cells));
}

void TfrmMain::grdUpdatesSelect(TObject*) {
    // Every listed update is installable: the row does not matter. During a workflow Install waits
    // for its end.
    FInstallAllowed = true;
    btnInstall->SetEnabled(!FWorkflowBusy);
}

}  // namespace memoline
