// The web download engine: copies the files named in Items from the web into local folders over
// WinINet, shows a progress dialog while it works and reports through events.
//
// A run is started with ThreadExecute. Its worker thread only hands DoCopy back to the UI thread and
// waits, so every network call, file write, dialog update and event happens on the UI thread, which
// keeps the windows alive by pumping messages between the steps of the transfer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "download/WebDownloadItem.h"
#include "core/Handles.h"
#include "core/Component.h"

namespace memoline {

using TFileIndexEvent = std::function<void(TObject* Sender, int idx)>;
using TURLEvent = std::function<void(TObject* Sender, const std::wstring& url)>;
using TErrorEvent = std::function<void(TObject* Sender, int ErrorCode)>;
using TErrorInfoEvent = std::function<void(TObject* Sender, int ErrorCode, const std::wstring& ErrorInfo)>;
using TCopyOverWriteEvent = std::function<void(TObject* Sender, const std::wstring& tgtfile, bool& allow)>;
using TCopyProgressEvent = std::function<void(TObject* Sender, int fileidx, uint32_t size, uint32_t totsize)>;
using TDialogEvent = std::function<void(TObject* Sender, HWND ADialog)>;
// Asked for the proxy's user name and password when the proxy answers 407: `proxy` names it, `again`
// tells that the last answer was refused. False leaves the 407 to fail the item.
using TProxyLoginEvent = std::function<bool(TObject* Sender, const std::wstring& proxy, bool again,
                                            std::wstring& userName, std::wstring& password)>;

// Error codes of OnError/OnErrorInfo besides the HTTP status.
constexpr int kDownloadErrorCreateFile = 3;  // "Cannot create file " + path (or the refused name)
constexpr int kDownloadErrorIncomplete = 4;  // "Download incomplete: " + path
constexpr int kDownloadErrorWriteFile = 5;   // "Cannot write file " + path

class TWebDownloader : public TComponent {
public:
    explicit TWebDownloader(TComponent* owner = nullptr);
    ~TWebDownloader() override;

    // Starts a run and returns at once; the run begins when the UI thread next processes messages.
    void ThreadExecute();
    // Runs DoCopy in the calling thread.
    void Execute();
    // ThreadExecute, then pumps the UI thread's messages until the run's worker has ended.
    void ThreadExecAndWait();
    // Asks the running transfer to stop at its next check; raises no event.
    void CancelCopy() { FCancelled = true; }
    // The copy operation itself; runs on the UI thread.
    void DoCopy();

    TWebDownloadItems& Items() { return *FItems; }
    const std::wstring& Version() const { return FVersion; }

    // HTTP road.
    std::wstring Agent = L"WebDownload";
    std::wstring Proxy;
    std::wstring ProxyUserID;
    std::wstring ProxyPassword;
    int Timeout = 0;  // seconds; 0 keeps the system's defaults
    bool HTTPKeepAliveAuthentication = false;
    bool AutoURLDecode = false;
    bool CreateUniqueFilenames = false;
    // Pauses in milliseconds before the retries of a transfer whose connection dropped during the
    // body; there are as many retries as pauses. A retry asks only for the missing rest when the first
    // answer named its version (ETag or Last-Modified), else for the whole file again.
    std::vector<DWORD> ResumePauses{1000, 2000, 4000};

    // Dialog texts.
    std::wstring DlgCaption = L"Downloading";
    std::wstring DlgDownload = L"Downloading";
    std::wstring DlgCompleted = L"completed";
    std::wstring DlgCancel = L"Cancel";
    std::wstring DlgFileLabel = L"File :";
    std::wstring DlgFileOfLabel = L"of";
    std::wstring DlgFromServerLabel = L"from";
    std::wstring DlgProgressLabel = L"Progress :";
    std::wstring DlgRateLabel = L"Transfer rate :";
    std::wstring DlgTimeLabel = L"Estimated time left :";
    std::wstring DlgElapsedTimeLabel = L"Elapsed time :";
    std::wstring DlgTimeSec = L"sec";
    std::wstring DlgTimeMin = L"minutes";
    std::wstring DlgUpload = L"Uploading";
    std::wstring DlgCopying = L"Copying";
    std::wstring DlgToServerLabel = L"to";

    // Dialog switches.
    bool ShowDialog = true;
    bool ShowDialogOnTop = true;
    bool AlwaysOnTop = false;
    bool ShowFileName = true;
    bool ShowServer = true;
    bool ShowTime = false;
    bool ShowElapsedTime = false;
    bool ShowCompletion = false;
    bool DlgShowCancel = true;
    bool DlgShowCloseBtn = false;

    // Events; Sender is always this component.
    TFileIndexEvent OnFileStart;
    TNotifyEvent OnCopyCancel;
    TURLEvent OnURLNotFound;
    TErrorEvent OnError;
    TErrorInfoEvent OnErrorInfo;
    TCopyOverWriteEvent OnCopyOverWrite;
    TCopyProgressEvent OnCopyProgress;
    TFileIndexEvent OnFileDone;
    TNotifyEvent OnCopyDone;
    TDialogEvent OnBeforeDialogShow;
    TProxyLoginEvent OnProxyLogin;
    TNotifyEvent OnConnectError;  // raised only by the local file copy road, never by HTTP

    // State of the current or last run.
    bool Cancelled() const { return FCancelled; }
    bool CopyCompleted() const { return FCopyCompleted; }
    bool FormClosed() const { return FFormClosed; }
    const std::wstring& LastFile() const { return FLastFile; }
    const std::wstring& LastDir() const { return FLastDir; }
    const std::wstring& RateStr() const { return FRateStr; }
    const std::wstring& TimeLeftStr() const { return FTimeLeftStr; }
    const std::wstring& ElapsedTimeStr() const { return FElapsedTimeStr; }
    // The current run's dialog and controls; stale (destroyed) after the run until the next one.
    HWND ProgressForm() const { return FForm; }
    HWND ProgressBar() const { return FProgress; }
    HWND ProgressFileLabel() const { return FFileLbl; }
    HWND ProgressSizeLabel() const { return FSizeLbl; }
    HWND ProgressRateLabel() const { return FRateLbl; }
    HWND ProgressTimeLabel() const { return FTimeLbl; }
    HWND ProgressElapsedTimeLabel() const { return FElapsedTimeLbl; }
    HWND ProgressCancelButton() const { return FCancelBtn; }

    // Pumps the calling thread's pending window messages once.
    static void ProcessMessages();

protected:
    // Appends received bytes to the target file. A seam for tests that need a write to fail the way a
    // full disk makes it fail.
    virtual bool WriteTargetData(HANDLE file, const char* data, DWORD size);

private:
    friend class TDownloadThread;

    // How the body of one answer ended.
    enum class TBodyEnd {
        Complete,     // the data ended where the answer said (or, without a length, with the connection)
        Dropped,      // a read failed or the data stopped short of the announced end
        WriteFailed,  // the target file refused the data
        Cancelled,    // the user cancelled
    };
    // Where a transfer stands; it outlives a dropped connection, so the dialog's amounts, rate and time
    // left go on across a resume.
    struct TTransferState {
        uint64_t received = 0;
        uint32_t total = 0;        // size shown in the dialog, 0 when unknown
        DWORD start = 0;           // tick count at the start of the body
        uint64_t expectedEnd = 0;  // file offset where the current answer's body ends; 0 when not announced
        std::wstring validator;    // If-Range value of the version being received; empty: none
        bool anyData = false;
    };
    friend LRESULT CALLBACK ProgressFormProc(HWND, UINT, WPARAM, LPARAM);

    void CopyItems();  // the items of a run, in order
    bool HttpDownload(TWebDownloadItem& item);
    bool AskLogin(const std::wstring& url, std::wstring& userID, std::wstring& password);
    unique_hinternet OpenURL(const std::wstring& url, const std::wstring& userID, const std::wstring& password,
                             const std::wstring& extraHeaders = std::wstring());
    TBodyEnd ReadBody(HINTERNET request, HANDLE file, TTransferState& transfer);
    // Resume after a dropped connection (WebDownloaderResume.cpp).
    bool ResumeAfterDrop(unique_hinternet& request, HANDLE file, const std::wstring& url, const std::wstring& userID,
                         const std::wstring& password, TTransferState& transfer, size_t& retriesUsed);
    bool ContinueWithAnswer(HINTERNET request, HANDLE file, TTransferState& transfer);
    bool PauseBeforeRetry(DWORD ms);
    static std::wstring ValidatorOf(HINTERNET request);
    // Proxy sign-in (WebDownloaderProxy.cpp): answers a 407 on the open request; `status` is the
    // status after the last answer.
    void AnswerProxySignIn(HINTERNET request, DWORD& status);
    std::wstring ProxyName() const;
    std::wstring TargetName(const TWebDownloadItem& item, HINTERNET request, const std::wstring& url);
    void RaiseError(int code, const std::wstring& info);
    void ThreadDone() { FCopyCompleted = true; }

    // Progress dialog.
    void CreateProgressForm();
    void SetProgressCaption(const std::wstring& caption);
    void SetFileLine(const TWebDownloadItem& item, const std::wstring& displayName);
    void SetProgressBarStyle(bool marquee);
    void ShowTransferProgress(uint64_t received, uint32_t total, DWORD start);
    void CancelBtnClick();
    void CloseProgressForm();
    void SetLabel(HWND label, const std::wstring& text, bool autoSize);
    void FlushProgress();
    void PumpIfPending();

    TWebDownloadItems* FItems;
    std::wstring FVersion = L"1.0.0.0";
    HINTERNET FHinternet = nullptr;
    int FFileNum = 0;
    bool FCancelled = false;
    bool FCancelIsClose = false;
    bool FCopyCompleted = false;
    bool FFormClosed = false;
    std::wstring FLastFile;
    std::wstring FLastDir;
    std::wstring FRateStr;
    std::wstring FTimeLeftStr;
    std::wstring FElapsedTimeStr;

    HWND FForm = nullptr;
    HWND FProgress = nullptr;
    HWND FFileLbl = nullptr;
    HWND FSizeLbl = nullptr;
    HWND FRateLbl = nullptr;
    HWND FTimeLbl = nullptr;
    HWND FElapsedTimeLbl = nullptr;
    HWND FCancelBtn = nullptr;
    HFONT FFont = nullptr;  // the stock font, or FScaledFont at another DPI than the system's
    unique_gdiobj FScaledFont;
    int FDpi = 96;  // the dialog's DPI: its 96-DPI layout is scaled to it
    bool FFormAlive = false;  // FForm has been created and not yet destroyed
    HDC FMeasureDC = nullptr;  // sizes the auto-sized lines; lives as long as the dialog
    // Repaint bounding during a transfer: every chunk's texts are computed (RateStr and the others
    // follow every chunk), but the lines, the bar and the caption are given them at most every
    // kRepaintIntervalMs, on the first chunk, on the chunk that completes the announced size and at
    // the end of the transfer (FlushProgress).
    bool FProgressPending = false;
    bool FProgressShownOnce = false;
    DWORD FLastRepaint = 0;
    DWORD FLastPump = 0;  // when the transfer loop last asked for pending messages
    int FBarPos = 0;  // the bar's position as it reports it, 0 to 100
    std::wstring FCaptionText;
    std::wstring FSizeText;
    wchar_t FDecimalSeparator = L'.';
};

}  // namespace memoline
