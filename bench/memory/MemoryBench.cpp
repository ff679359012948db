// The peak working set of the updater's process on three roads, each in a process of its own: the
// main window started as the updater starts it and left idle; a check that lists ROWS updates; an
// install whose setup program is a large download (the engine with its dialog writes it to disk; the
// install then ends at the signature check, since the file is not a signed setup program). Message
// boxes are answered in-process (Yes to the install's question, OK to the rest).
//   memory_bench.exe idle
//   memory_bench.exe check URL ROWS
//   memory_bench.exe download URL
// Prints "peak_<mode>_mb=<MiB>" and, for the record, the working set at the end.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "app/MainForm.h"
#include "catalogue/UpdateRequestHelper.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "ui/Style.h"

using namespace memoline;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

std::string Narrow(const std::wstring& s) {
    return std::string(s.begin(), s.end());
}

// Handles messages for a while, as an idle window does.
void PumpFor(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        ui::Application().ProcessMessages();
    }
}

int Report(const char* mode) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        std::printf("the process's memory counters cannot be read (%lu)\n", GetLastError());
        return 1;
    }
    std::printf("peak_%s_mb=%.1f\n", mode, static_cast<double>(counters.PeakWorkingSetSize) / kMiB);
    std::printf("working_set_%s_mb=%.1f\n", mode, static_cast<double>(counters.WorkingSetSize) / kMiB);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (!(mode == L"idle" && argc == 2) && !(mode == L"check" && argc == 4) && !(mode == L"download" && argc == 3)) {
        std::printf("usage: memory_bench idle | check URL ROWS | download URL\n");
        return 2;
    }
    // Start-up as the updater does it.
    ui::TApplication& application = ui::Application();
    application.Initialize();
    ui::TStyleManager::Engine().TrySetStyle(L"Flat UI Light");
    frmMain = new TfrmMain();
    frmMain->Show();
    application.ProcessMessages();

    std::wstring lastMessage;
    ui::SetMessageDlgHandler([&](const std::wstring& text, ui::TMsgDlgType type) {
        lastMessage = text;
        return type == ui::TMsgDlgType::Confirmation ? IDYES : IDOK;
    });
    int status = 0;
    if (mode == L"idle") {
        PumpFor(2000);
    } else if (mode == L"check") {
        CatalogueAddress = argv[2];
        frmMain->btnCheckClick(frmMain->btnCheck);
        PumpFor(500);
        if (frmMain->grdUpdates->RowCount() != _wtoi(argv[3])) {
            std::printf("the check listed %d rows, not %ls: %s\n", frmMain->grdUpdates->RowCount(), argv[3],
                        Narrow(lastMessage).c_str());
            status = 1;
        }
    } else {
        frmMain->grdUpdates->ClearRows();
        frmMain->grdUpdates->AddRow({L"Large", L"5.10.0", L"2026-11-28", argv[2]});
        frmMain->grdUpdates->SetSelectedRow(0);
        frmMain->btnInstallClick(frmMain->btnInstall);
        PumpFor(500);
        std::printf("the install ended with: %s\n", Narrow(lastMessage).c_str());
        // The download must have run to its end: the road stops at the signature, not before.
        if (lastMessage.find(L"signature") == std::wstring::npos && lastMessage.find(L"signed") == std::wstring::npos)
            status = 1;
    }
    const int reported = Report(Narrow(mode).c_str());
    ui::SetMessageDlgHandler(nullptr);
    delete frmMain;
    frmMain = nullptr;
    return status != 0 ? status : reported;
}
