// The install: downloads the chosen update's setup program and runs it, then the data update.
#include "app/MainForm.h"

namespace memoline {

void TfrmMain::btnInstallClick(TObject*) {
    // The install workflow is filled in by its own change.
}

}  // namespace memoline
