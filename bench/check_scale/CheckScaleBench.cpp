// The check road at two catalogue sizes, in the updater's own main window: the press of Check, the
// catalogue request over HTTPS, the parsing, the grid filled and painted. The message box at the end
// is answered in-process, so the time is the updater's and not the operator's.
//   check_scale_bench.exe URL_SMALL ROWS_SMALL URL_LARGE ROWS_LARGE ROUNDS
// Prints "check_<rows>_seconds=<median>" for each size and the ratio of the two, and for the record
// "request_<rows>_seconds", the median of the catalogue request alone.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "catalogue/UpdateRequestHelper.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "ui/Style.h"

using namespace memoline;

namespace {

double Now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string Narrow(const std::wstring& s) {
    return std::string(s.begin(), s.end());
}

struct Size {
    std::wstring url;
    int rows;
    std::vector<double> seconds;         // the whole check
    std::vector<double> requestSeconds;  // the catalogue request alone: connection, answer, lines
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 6) {
        std::printf("usage: check_scale_bench URL_SMALL ROWS_SMALL URL_LARGE ROWS_LARGE ROUNDS\n");
        return 2;
    }
    Size sizes[] = {{argv[1], _wtoi(argv[2]), {}}, {argv[3], _wtoi(argv[4]), {}}};
    const int rounds = std::max(1, _wtoi(argv[5]));

    // Start-up as the updater does it.
    ui::TApplication& application = ui::Application();
    application.Initialize();
    ui::TStyleManager::Engine().TrySetStyle(L"Flat UI Light");
    frmMain = new TfrmMain();
    frmMain->Show();
    application.ProcessMessages();

    std::wstring lastMessage;
    ui::SetMessageDlgHandler([&](const std::wstring& text, ui::TMsgDlgType) {
        lastMessage = text;
        return IDOK;
    });

    int status = 0;
    auto check = [&](Size& size, bool timed) {
        const double start = Now();
        CatalogueAddress = size.url;
        frmMain->btnCheckClick(frmMain->btnCheck);
        // The grid painted with its rows, as the operator sees it behind the message box.
        RedrawWindow(frmMain->Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        const double seconds = Now() - start;
        if (frmMain->grdUpdates->RowCount() != size.rows) {
            std::printf("check of %s listed %d rows, not %d: %s\n", Narrow(size.url).c_str(),
                        frmMain->grdUpdates->RowCount(), size.rows, Narrow(lastMessage).c_str());
            status = 1;
        }
        if (timed)
            size.seconds.push_back(seconds);
        application.ProcessMessages();
    };
    // The sizes take turns, so a change in the machine's load meets both alike. Each timed check is
    // preceded by an untimed one of the same size: it replaces rows like its own, as a second press
    // of Check does.
    for (int r = 0; r < rounds && status == 0; ++r) {
        for (Size& size : sizes) {
            check(size, false);
            check(size, true);
        }
    }
    if (status != 0)
        return status;
    // The request alone, for the record: what of the check's time is the answer's, and what the list's.
    for (Size& size : sizes) {
        CatalogueAddress = size.url;
        for (int r = 0; r < rounds; ++r) {
            const double start = Now();
            const TServerUpdates answer = RequestServerUpdates();
            size.requestSeconds.push_back(Now() - start);
        }
    }
    for (const Size& size : sizes) {
        std::printf("request_%d_seconds=%.4f\n", size.rows, Median(size.requestSeconds));
        std::printf("check_%d_seconds=%.4f\n", size.rows, Median(size.seconds));
        std::printf("check_%d_rounds=", size.rows);
        for (size_t i = 0; i < size.seconds.size(); ++i)
            std::printf("%s%.4f", i ? "," : "", size.seconds[i]);
        std::printf("\n");
    }
    std::printf("check_%d_vs_%d=%.3f\n", sizes[1].rows, sizes[0].rows,
                Median(sizes[1].seconds) / Median(sizes[0].seconds));
    // What grows with the catalogue: the ratio above improves when the fixed part of a check grows, the
    // cost of a row does not.
    std::printf("check_microseconds_per_row=%.2f\n", (Median(sizes[1].seconds) - Median(sizes[0].seconds)) * 1e6 /
                                                         static_cast<double>(sizes[1].rows - sizes[0].rows));
    ui::SetMessageDlgHandler(nullptr);
    delete frmMain;
    frmMain = nullptr;
    return 0;
}
