// What a download run shows while it works: the engine tells its dialog where the run stands (in the
// order of a run: built, item started, body started, a chunk received, run ended) and the dialog
// shows it in a TDownloadProgressForm, built for every run and gone when the run ends. The Cancel
// button is reported back through OnCancel. The dialog keeps the last texts shown.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/Component.h"

namespace memoline {

class TWebDownloader;
class TDownloadProgressForm;
namespace ui {
class TLabel;
}

class TDownloadProgressDialog {
public:
    // Reads its texts and switches from `engine`, and raises the engine's OnBeforeDialogShow.
    explicit TDownloadProgressDialog(TWebDownloader& engine);
    ~TDownloadProgressDialog();
    TDownloadProgressDialog(const TDownloadProgressDialog&) = delete;
    TDownloadProgressDialog& operator=(const TDownloadProgressDialog&) = delete;

    // Builds the window from the engine's current settings; shows it when ShowDialog is set.
    void CreateProgressForm();
    void SetCaption(const std::wstring& caption);
    // The file line for the item numbered fileNum of itemCount (activeItems of them active).
    void SetFileLine(int fileNum,
                     int itemCount,
                     int activeItems,
                     const std::wstring& displayName,
                     const std::wstring& url);
    // A normal bar once the total size is known, a marquee without one.
    void SetBarStyle(bool marquee);
    // After each chunk: its numbers are kept, and the window shows them at a bounded rate.
    void ShowTransferProgress(uint64_t received, uint32_t total, DWORD start);
    // Gives the window the last computed values.
    void FlushProgress();
    // Asks the window to close; refused while the run needs it (unless DlgShowCloseBtn).
    void RequestClose();
    // The end of the run: closes and destroys the window, then pumps messages once.
    void CloseProgressForm();

    // The current run's window, or null once it is closed.
    TDownloadProgressForm* Form() const { return form_.get(); }
    // The texts of the last chunk, formatted when first asked for after it.
    const std::wstring& RateStr() const;
    const std::wstring& TimeLeftStr() const;
    const std::wstring& ElapsedTimeStr() const;

    // The Cancel button was pressed.
    TNotifyEvent OnCancel;

private:
    void ShowForm();           // raises OnBeforeDialogShow, then shows the window where it is
    void FormatTexts() const;  // the three texts from the last chunk's numbers, once per chunk
    // Sets a line's text only when it differs: an unchanged line need not be painted again.
    static void SetLine(ui::TLabel& line, const std::wstring& text);

    TWebDownloader& engine_;
    std::unique_ptr<TDownloadProgressForm> form_;
    bool cancelIsClose_ = false;  // the run has ended: the window may close
    // The last chunk's numbers. A fast link delivers thousands of chunks a second, and formatting
    // four texts for each would cost more than its read: the texts are made from these when asked for
    // or painted, with the same tick value as if they had been made at the chunk.
    uint64_t received_ = 0;
    uint32_t total_ = 0;
    DWORD elapsedMs_ = 0;
    mutable bool textsStale_ = false;
    mutable std::wstring rateStr_;
    mutable std::wstring timeLeftStr_;
    mutable std::wstring elapsedTimeStr_;
    // Repaint bounding during a transfer: RateStr and the others follow every chunk, but the lines,
    // the bar and the caption are given the chunk's values at most every kRepaintIntervalMs, on the
    // first chunk, on the chunk that completes the announced size and at the end of the transfer
    // (FlushProgress).
    bool progressPending_ = false;
    bool progressShownOnce_ = false;
    DWORD lastRepaint_ = 0;
    int barPos_ = 0;  // the bar's position as it reports it, 0 to 100
    std::wstring captionText_;
    wchar_t decimalSeparator_ = L'.';
};

}  // namespace memoline
