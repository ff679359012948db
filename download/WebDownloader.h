// The web download engine: copies the files named in Items from the web into local folders over
// WinINet, shows a progress dialog while it works and reports through events.
//
// A run is started with ThreadExecute. Its worker thread only hands DoCopy back to the UI thread and
// waits, so every file write, dialog update and event happens on the UI thread. The WinINet calls that
// wait on the server (opening the URL, each read) run on a worker of their own while the UI thread
// keeps handling messages; Cancel gives such a call up at once.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Component.h"
#include "core/Handles.h"
#include "core/WorkerCall.h"
#include "download/SharedInternetHandle.h"
#include "download/WebDownloadItem.h"

namespace memoline {

namespace download {
class TBodyReadAhead;
}  // namespace download

using TFileIndexEvent = std::function<void(TObject* Sender, int idx)>;
using TURLEvent = std::function<void(TObject* Sender, const std::wstring& url)>;
using TErrorEvent = std::function<void(TObject* Sender, int ErrorCode)>;
using TErrorInfoEvent = std::function<void(TObject* Sender, int ErrorCode, const std::wstring& ErrorInfo)>;
using TCopyOverWriteEvent = std::function<void(TObject* Sender, const std::wstring& tgtfile, bool& allow)>;
using TCopyProgressEvent = std::function<void(TObject* Sender, int fileidx, uint32_t size, uint32_t totsize)>;
using TDialogEvent = std::function<void(TObject* Sender, HWND ADialog)>;
// Asked for the proxy's user name and password when the proxy answers 407: `proxy` names it, `again`
// tells that the last answer was refused. False leaves the 407 to fail the item.
using TProxyLoginEvent = std::function<
    bool(TObject* Sender, const std::wstring& proxy, bool again, std::wstring& userName, std::wstring& password)>;

// Error codes of OnError/OnErrorInfo besides the HTTP status.
constexpr int kDownloadErrorCreateFile = 3;  // "Cannot create file " + path (or the refused name)
constexpr int kDownloadErrorIncomplete = 4;  // "Download incomplete: " + path
constexpr int kDownloadErrorWriteFile = 5;   // "Cannot write file " + path

class TDownloadProgressDialog;
class TDownloadThread;

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
    // The window the dialog belongs to (null: none). An owned dialog stays in front of that window
    // only, has no taskbar button of its own, and hands the activation back to it when it closes.
    HWND DialogOwner = nullptr;
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
    // The last texts the dialog computed.
    const std::wstring& RateStr() const;
    const std::wstring& TimeLeftStr() const;
    const std::wstring& ElapsedTimeStr() const;
    // The windows of the current run's dialog; null when there is none (before and after the run).
    HWND ProgressForm() const;
    HWND ProgressBar() const;
    HWND ProgressFileLabel() const;
    HWND ProgressSizeLabel() const;
    HWND ProgressRateLabel() const;
    HWND ProgressTimeLabel() const;
    HWND ProgressElapsedTimeLabel() const;
    HWND ProgressCancelButton() const;

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

    void CopyItems();  // the items of a run, in order
    bool HttpDownload(TWebDownloadItem& item);
    bool AskLogin(const std::wstring& url, std::wstring& userID, std::wstring& password);
    shared_hinternet OpenURL(const std::wstring& url,
                             const std::wstring& userID,
                             const std::wstring& password,
                             const std::wstring& extraHeaders = std::wstring());
    TBodyEnd ReadBody(const shared_hinternet& request, HANDLE file, TTransferState& transfer);
    // Where the taking of a body read ahead stands.
    struct TBodyTaking {
        ULONGLONG lastArrival = 0;
        bool writeFailed = false;
        bool ended = false;
        bool failed = false;
    };
    // One chunk of the reader, written, shown and reported as one read; the end once, as a read of 0
    // bytes. False when nothing was there to take or the taking has stopped.
    bool TakeChunk(download::TBodyReadAhead& reader, HANDLE file, TTransferState& transfer, TBodyTaking& taking);
    // Runs a WinINet call on the worker while the UI thread handles messages. Cancel (or a quit
    // request, which then sets the cancel flag) gives it up at once, and so does the time-out: the
    // platform's own time-outs are not all kept (Wine waits on a silent server for ever).
    enum class TCallEnd { Done, Cancelled, TimedOut };
    TCallEnd RunCall(std::function<void()> work);
    // Resume after a dropped connection (WebDownloaderResume.cpp).
    bool ResumeAfterDrop(shared_hinternet& request,
                         HANDLE file,
                         const std::wstring& url,
                         const std::wstring& userID,
                         const std::wstring& password,
                         TTransferState& transfer,
                         size_t& retriesUsed);
    bool ContinueWithAnswer(const shared_hinternet& request, HANDLE file, TTransferState& transfer);
    bool PauseBeforeRetry(DWORD ms);
    static std::wstring ValidatorOf(HINTERNET request);
    // Proxy sign-in (WebDownloaderProxy.cpp): answers a 407 on the open request; `status` is the
    // status after the last answer. The drain and the new send run through RunCall; Cancel and the
    // time-out end the sign-in with the status as it was.
    void AnswerProxySignIn(const shared_hinternet& request, DWORD& status);
    std::wstring ProxyName() const;
    std::wstring TargetName(const TWebDownloadItem& item, HINTERNET request, const std::wstring& url);
    void RaiseError(int code, const std::wstring& info);
    void ThreadDone() { FCopyCompleted = true; }
    // Joins the workers of earlier runs that have ended.
    void ReleaseEndedThreads();

    // The steps of one HTTP item (HttpDownload).
    bool OpenRequest(const TWebDownloadItem& item,
                     const std::wstring& url,
                     std::wstring& userID,
                     std::wstring& password,
                     shared_hinternet& request);
    unique_file CreateTarget(const TWebDownloadItem& item,
                             shared_hinternet& request,
                             const std::wstring& url,
                             std::wstring& path);
    TTransferState StartBody(const TWebDownloadItem& item, HINTERNET request);
    bool FinishTarget(const std::wstring& path, TBodyEnd end, bool anyData);

    // The dialog of a run.
    void CreateProgressForm();
    void CancelBtnClick();
    void PumpIfPending();

    std::unique_ptr<TWebDownloadItems> FItems;
    std::wstring FVersion = L"1.0.0.0";
    HINTERNET FHinternet = nullptr;
    shared_hinternet FRoot;  // the session of the run; FHinternet is its handle
    core::TWorkerCaller FWorker;
    int FFileNum = 0;
    bool FCancelled = false;
    bool FCopyCompleted = false;
    bool FFormClosed = false;
    std::wstring FLastFile;
    std::wstring FLastDir;
    std::unique_ptr<TDownloadProgressDialog> FDialog;
    // The workers of the runs started: each is joined once it has ended, at the latest when the
    // component goes.
    std::vector<std::unique_ptr<TDownloadThread>> FThreads;
    DWORD FLastPump = 0;  // when the transfer loop last asked for pending messages
};

}  // namespace memoline
