// The update check: asks the catalogue for server updates and lists the newer ones.
#include "app/MainForm.h"

namespace memoline {

void TfrmMain::btnCheckClick(TObject*) {
    // The check workflow is filled in by its own change.
}

void TfrmMain::grdUpdatesSelect(TObject*) {
    // Enabling Install for the selected update comes with the check workflow.
}

}  // namespace memoline
