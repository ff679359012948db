#include "download/WebDownloader.h"

#include <wininet.h>

#include "core/WinInet.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "core/MessagePump.h"
#include "download/BodyReadAhead.h"
#include "download/DownloadLoginForm.h"
#include "download/DownloadText.h"
#include "download/DownloadThread.h"
#include "download/ProgressDialog.h"

namespace memoline {
namespace {

using download::DecodeURLName;
using download::EncodeBase64;
using download::ExtractURLFileName;
using download::ExtractURLHost;
using download::InsertProxyCredentials;
using download::IsSafeTargetFilename;
using download::JoinPath;
using download::NumberedFilename;

// The transfer loop asks for pending window messages at most this often (fifty times a second).
constexpr DWORD kPumpIntervalMs = 20;
// The time-out of one call to the server when the engine's Timeout is 0, as long as WinINet's own
// default on Windows.
constexpr ULONGLONG kDefaultTimeoutMs = 60000;
// INTERNET_OPTION_URL is read into a buffer of this many bytes.
constexpr DWORD kUrlBufferBytes = 4096;

bool FileExistsAt(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates every missing folder of the chain, outermost first.
void CreateDirectoryChain(const std::wstring& dir) {
    if (dir.empty())
        return;
    size_t start = 0;
    if (dir.size() >= 2 && dir[1] == L':')
        start = 3;  // "C:\": the drive's root exists
    else if (dir.rfind(L"\\\\", 0) == 0)
        start = dir.find(L'\\', dir.find(L'\\', 2) + 1);  // "\\server\share\": the share exists
    if (start == std::wstring::npos)
        return;
    for (size_t pos = dir.find(L'\\', start);; pos = dir.find(L'\\', pos + 1)) {
        std::wstring part = dir.substr(0, pos);
        if (!part.empty() && GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES)
            CreateDirectoryW(part.c_str(), nullptr);
        if (pos == std::wstring::npos)
            break;
    }
}

std::wstring ParentDirectory(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

TWebDownloader::TWebDownloader(TComponent* owner)
    : TComponent(owner),
      FItems(std::make_unique<TWebDownloadItems>()),
      FDialog(std::make_unique<TDownloadProgressDialog>(*this)) {
    FDialog->OnCancel = [this](TObject*) { CancelBtnClick(); };
}

// A dialog left behind by a handler that threw out of a run goes with the dialog object. A worker
// that has handed its run back but not yet told its end is waited for: its last call reaches this
// component on this thread.
TWebDownloader::~TWebDownloader() {
    for (auto& thread : FThreads)
        thread->WaitForEnd();
}

const std::wstring& TWebDownloader::RateStr() const {
    return FDialog->RateStr();
}
const std::wstring& TWebDownloader::TimeLeftStr() const {
    return FDialog->TimeLeftStr();
}
const std::wstring& TWebDownloader::ElapsedTimeStr() const {
    return FDialog->ElapsedTimeStr();
}

void TWebDownloader::ProcessMessages() {
    // Dialog keys (Esc in the dialog, Tab) work as in the main loop; a quit is left for the
    // application's own loop.
    core::ProcessPendingMessages(core::TQuitPolicy::StopAndRepost);
}

// The pump of the transfer loop. Asking whether anything waits is one call, but under Wine that call
// is a round trip to the server and a look at the display connection, which costs about as much as
// a 64 KiB read on a fast link: the queue is asked at most every kPumpIntervalMs. A slow read always
// makes the pump due, so the window stays as responsive as the transfer allows.
void TWebDownloader::PumpIfPending() {
    const DWORD now = GetTickCount();
    if (DWORD(now - FLastPump) < kPumpIntervalMs)
        return;
    FLastPump = now;
    if (HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0)
        ProcessMessages();
}

void TWebDownloader::ThreadExecute() {
    ReleaseEndedThreads();
    FThreads.push_back(std::make_unique<TDownloadThread>(*this));
}

void TWebDownloader::ReleaseEndedThreads() {
    std::erase_if(FThreads, [](const std::unique_ptr<TDownloadThread>& thread) { return thread->Ended(); });
}

void TWebDownloader::Execute() {
    DoCopy();
}

void TWebDownloader::ThreadExecAndWait() {
    FCopyCompleted = false;
    ThreadExecute();
    while (!FCopyCompleted) {
        // QS_ALLINPUT includes QS_SENDMESSAGE, which is how the worker's calls arrive.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
        ProcessMessages();
    }
}

void TWebDownloader::DoCopy() {
    CreateProgressForm();

    FHinternet = nullptr;
    FRoot.reset();
    bool needsNetwork = false;
    for (int i = 0; i < FItems->Count(); ++i) {
        const TWebDownloadItem& item = *(*FItems)[i];
        needsNetwork = needsNetwork || (item.Active && item.Protocol != TWebDownloadProtocol::wpFile);
    }
    if (needsNetwork) {
        DWORD access = Proxy.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY;
        // INTERNET_FLAG_NO_CACHE_WRITE: a setup program has no business in the browser cache.
        FRoot = shared_hinternet(
            core::wininet::InternetOpenW(Agent.c_str(), access, Proxy.empty() ? nullptr : Proxy.c_str(), nullptr,
                                         INTERNET_FLAG_NO_CACHE_WRITE),
            shared_hinternet());
        FHinternet = FRoot.get();
        if (FRoot && Timeout > 0) {
            DWORD ms = static_cast<DWORD>(Timeout) * 1000;
            core::wininet::InternetSetOptionW(FHinternet, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
            core::wininet::InternetSetOptionW(FHinternet, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
            core::wininet::InternetSetOptionW(FHinternet, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
        }
    }

    // A handler that throws ends the transfer, but not the run: the dialog still closes and
    // OnCopyDone is still raised, so the owner's state follows the run's end; then the error goes on.
    std::exception_ptr failure;
    try {
        CopyItems();
    } catch (...) {
        failure = std::current_exception();
    }

    FRoot.reset();
    FHinternet = nullptr;
    FDialog->CloseProgressForm();
    if (OnCopyDone)
        OnCopyDone(this);
    if (failure)
        std::rethrow_exception(failure);
}

void TWebDownloader::CopyItems() {
    FFileNum = 0;
    for (int i = 0; i < FItems->Count(); ++i) {
        TWebDownloadItem& item = *(*FItems)[i];
        if (!item.Active)
            continue;
        ++FFileNum;
        if (OnFileStart)
            OnFileStart(this, i);
        FDialog->SetCaption(DlgDownload + L" ...");
        bool transferred = false;
        if (item.Protocol == TWebDownloadProtocol::wpHttp)
            transferred = HttpDownload(item);
        item.NewFileDate = item.FileDate;
        item.FSuccess = transferred && !FCancelled;
        item.FCancelled = FCancelled;
        item.FNoNewVersion = false;
        if (FCancelled)
            break;
        if (OnFileDone)
            OnFileDone(this, i);
    }
}

void TWebDownloader::RaiseError(int code, const std::wstring& info) {
    if (OnError)
        OnError(this, code);
    if (OnErrorInfo)
        OnErrorInfo(this, code, info);
}

bool TWebDownloader::AskLogin(const std::wstring& url, std::wstring& userID, std::wstring& password) {
    TDownloadLoginForm form(L"Connect to " + ExtractURLHost(url));
    if (form.ShowModal() != IDOK)
        return false;
    userID = form.UserName();
    password = form.Password();
    return true;
}

TWebDownloader::TCallEnd TWebDownloader::RunCall(std::function<void()> work) {
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG limit = Timeout > 0 ? static_cast<ULONGLONG>(Timeout) * 1000 : kDefaultTimeoutMs;
    bool timedOut = false;
    core::TWorkerWait wait;
    wait.abandon = [&] { return FCancelled || (timedOut = GetTickCount64() - start >= limit); };
    if (FWorker.Run(std::move(work), wait) == core::TWorkerCallEnd::Done)
        return FCancelled ? TCallEnd::Cancelled : TCallEnd::Done;
    if (timedOut && !FCancelled)
        return TCallEnd::TimedOut;
    FCancelled = true;
    return TCallEnd::Cancelled;
}

shared_hinternet TWebDownloader::OpenURL(const std::wstring& url,
                                         const std::wstring& userID,
                                         const std::wstring& password,
                                         const std::wstring& extraHeaders) {
    // What the worker uses, kept alive by it when Cancel gives the call up; a handle it opens after
    // that is closed with it.
    struct TOpenCall {
        shared_hinternet session;
        std::wstring url;
        std::wstring headers;
        DWORD flags = 0;
        unique_hinternet request;
    };
    auto call = std::make_shared<TOpenCall>();
    call->session = FRoot;
    call->url = url;
    if (!userID.empty() || !password.empty())
        call->headers = L"Authorization: Basic " + EncodeBase64(userID + L":" + password) + L"\r\n";
    call->headers += extraHeaders;
    if (!call->headers.empty())
        call->headers += L"\r\n";
    // RELOAD and NO_CACHE_WRITE: always the server's current file, never through the cache.
    call->flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (HTTPKeepAliveAuthentication)
        call->flags |= INTERNET_FLAG_KEEP_CONNECTION;  // keeps the connection that carried the credentials
    const TCallEnd end = RunCall([call] {
        call->request.reset(core::wininet::InternetOpenUrlW(call->session.get(), call->url.c_str(),
                                                            call->headers.c_str(),
                                                            static_cast<DWORD>(call->headers.size()), call->flags, 0));
    });
    if (end != TCallEnd::Done)
        return shared_hinternet();  // a time-out fails as a URL that cannot be opened
    ProcessMessages();
    return shared_hinternet(call->request.release(), FRoot);
}

std::wstring TWebDownloader::TargetName(const TWebDownloadItem& item, HINTERNET request, const std::wstring& url) {
    if (!item.TargetFilename.empty())
        return item.TargetFilename;  // the caller's name is used as given, never decoded
    std::wstring finalUrl(kUrlBufferBytes / sizeof(wchar_t), L'\0');
    DWORD size = kUrlBufferBytes;
    if (core::wininet::InternetQueryOptionW(request, INTERNET_OPTION_URL, finalUrl.data(), &size))
        finalUrl.resize(wcsnlen(finalUrl.c_str(), finalUrl.size()));
    else
        finalUrl.clear();
    std::wstring name = ExtractURLFileName(!finalUrl.empty() && finalUrl != url ? finalUrl : url);
    if (AutoURLDecode)
        name = DecodeURLName(name);
    return name;
}

bool TWebDownloader::WriteTargetData(HANDLE file, const char* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool TWebDownloader::HttpDownload(TWebDownloadItem& item) {
    item.FNoNewVersion = false;
    const std::wstring url = InsertProxyCredentials(item.URL, ProxyUserID, ProxyPassword);
    FDialog->SetFileLine(FFileNum, FItems->Count(), FItems->ActiveItems(),
                         item.DisplayURL.empty() ? ExtractURLFileName(item.URL) : item.DisplayURL, item.URL);
    ProcessMessages();

    std::wstring userID = item.HTTPUserID;
    std::wstring password = item.HTTPPassword;
    shared_hinternet request;
    if (!OpenRequest(item, url, userID, password, request))
        return false;
    std::wstring path;
    unique_file file = CreateTarget(item, request, url, path);
    if (!file)
        return false;

    TTransferState transfer = StartBody(item, request.get());
    TBodyEnd end = TBodyEnd::Complete;
    size_t retriesUsed = 0;
    do {
        end = ReadBody(request, file.get(), transfer);
    } while (end == TBodyEnd::Dropped && !FCancelled &&
             ResumeAfterDrop(request, file.get(), url, userID, password, transfer, retriesUsed));
    FDialog->FlushProgress();  // the dialog shows the transfer's last values
    file.reset();
    request.reset();
    return FinishTarget(path, end, transfer.anyData);
}

// Opens the URL, asking for credentials where the item allows it, as often as the server refuses
// them. False ends the item: the login was cancelled (no event), the server answered an error status,
// or the URL could not be opened.
bool TWebDownloader::OpenRequest(const TWebDownloadItem& item,
                                 const std::wstring& url,
                                 std::wstring& userID,
                                 std::wstring& password,
                                 shared_hinternet& request) {
    const bool mayAsk = item.Authenticate != TWebDownloadAuthentication::waNever;
    if (item.Authenticate == TWebDownloadAuthentication::waAlways && (userID.empty() || password.empty()) &&
        !AskLogin(url, userID, password))
        return false;
    DWORD status = 0;  // a failed query leaves it as it was
    while ((request = OpenURL(url, userID, password))) {
        DWORD size = sizeof status;
        DWORD index = 0;
        core::wininet::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                                      &index);
        if (status == 407)
            AnswerProxySignIn(request, status);
        if (status == 401 && mayAsk) {
            request.reset();
            if (!AskLogin(url, userID, password))
                return false;
            continue;
        }
        if (status >= 300) {
            request.reset();
            RaiseError(static_cast<int>(status), L"Returned http error code " + std::to_wstring(status));
            return false;
        }
        return true;
    }
    if (OnURLNotFound && !FCancelled)
        OnURLNotFound(this, url);
    return false;
}

// The target file at the item's path, created (an existing one truncated) with its missing folders.
// An invalid handle ends the item: the name is unsafe or the file cannot be created (both reported),
// or the owner refused to overwrite an existing file (not reported).
unique_file TWebDownloader::CreateTarget(const TWebDownloadItem& item,
                                         shared_hinternet& request,
                                         const std::wstring& url,
                                         std::wstring& path) {
    const std::wstring name = TargetName(item, request.get(), url);
    if (!IsSafeTargetFilename(name)) {
        request.reset();
        RaiseError(kDownloadErrorCreateFile, L"Cannot create file " + name);
        return unique_file();
    }
    path = JoinPath(item.TargetDir, name);
    FLastFile = path;
    FLastDir = item.TargetDir;
    if (FileExistsAt(path)) {
        bool allow = true;
        if (OnCopyOverWrite)
            OnCopyOverWrite(this, path, allow);
        if (!allow)
            return unique_file();
        if (CreateUniqueFilenames) {
            int n = 1;
            while (FileExistsAt(NumberedFilename(path, n)))
                ++n;
            path = NumberedFilename(path, n);
            FLastFile = path;
        }
    }
    CreateDirectoryChain(ParentDirectory(path));
    // CREATE_ALWAYS truncates a file that is there already.
    unique_file file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        request.reset();
        RaiseError(kDownloadErrorCreateFile, L"Cannot create file " + path);
    }
    return file;
}

// Where the transfer of the answer's body starts: its announced length (or the item's assumed size)
// and its version, for a resume; the dialog's bar runs as a marquee when no size is known.
TWebDownloader::TTransferState TWebDownloader::StartBody(const TWebDownloadItem& item, HINTERNET request) {
    DWORD announced = 0;
    DWORD size = sizeof announced;
    DWORD index = 0;
    core::wininet::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced, &size,
                                  &index);
    TTransferState transfer;
    transfer.total = announced == 0 && item.FileSize > 0 ? item.FileSize : announced;
    transfer.start = GetTickCount();
    transfer.expectedEnd = announced;
    transfer.validator = ValidatorOf(request);
    FDialog->SetBarStyle(transfer.total == 0);
    return transfer;
}

// After the body, with the file closed: the result of the item. A cancelled transfer's file is
// removed; a partial file must not pass for the program it was meant to be, so it is removed and
// reported too.
bool TWebDownloader::FinishTarget(const std::wstring& path, TBodyEnd end, bool anyData) {
    if (FCancelled) {
        DeleteFileW(path.c_str());
        return false;
    }
    if (end == TBodyEnd::WriteFailed) {
        DeleteFileW(path.c_str());
        RaiseError(kDownloadErrorWriteFile, L"Cannot write file " + path);
        return false;
    }
    if (end == TBodyEnd::Dropped) {
        DeleteFileW(path.c_str());
        RaiseError(kDownloadErrorIncomplete, L"Download incomplete: " + path);
        return false;
    }
    return anyData;
}

void TWebDownloader::CreateProgressForm() {
    FFormClosed = false;
    FCancelled = false;
    FDialog->CreateProgressForm();
    FCancelled = false;
}

void TWebDownloader::CancelBtnClick() {
    // The press cancels the run even when the handler fails.
    struct SetCancelled {
        bool& flag;
        ~SetCancelled() { flag = true; }
    } cancel{FCancelled};
    if (OnCopyCancel)
        OnCopyCancel(this);
    // Refused while the run is active: the window goes when the engine has noticed the flag.
    FDialog->RequestClose();
}

bool TWebDownloader::TakeChunk(download::TBodyReadAhead& reader,
                               HANDLE file,
                               TTransferState& transfer,
                               TBodyTaking& taking) {
    if (FCancelled || taking.writeFailed || taking.ended)
        return false;
    download::TBodyReadAhead::TTaken taken = reader.Take();
    if (!taken.hasChunk && !taken.ended)
        return false;
    taking.lastArrival = GetTickCount64();
    const DWORD size = static_cast<DWORD>(taken.chunk.size());
    if (size > 0 && !WriteTargetData(file, taken.chunk.data(), size)) {
        taking.writeFailed = true;
        return false;
    }
    taking.ended = taken.ended;
    taking.failed = taken.failed;
    if (taking.failed)
        return false;
    transfer.received += size;
    FDialog->ShowTransferProgress(transfer.received, transfer.total, transfer.start);
    if (OnCopyProgress)
        OnCopyProgress(this, FFileNum, transfer.total, static_cast<uint32_t>(transfer.received));
    if (size > 0)
        transfer.anyData = true;
    return true;
}

TWebDownloader::TBodyEnd TWebDownloader::ReadBody(const shared_hinternet& request,
                                                  HANDLE file,
                                                  TTransferState& transfer) {
    ProcessMessages();
    FLastPump = GetTickCount();
    auto reader = std::make_shared<download::TBodyReadAhead>(request);
    const ULONGLONG limit = Timeout > 0 ? static_cast<ULONGLONG>(Timeout) * 1000 : kDefaultTimeoutMs;
    TBodyTaking taking;
    taking.lastArrival = GetTickCount64();
    bool timedOut = false;
    // Every chunk that is there, until a message waits: the wait handles it before the next chunk,
    // so what comes after a Cancel is not written. (Asking the queue costs a round trip to Wine's
    // server, a waking of the wait with its look at the queue about three.)
    auto takeWhileNoMessage = [&] {
        while (TakeChunk(*reader, file, transfer, taking) && HIWORD(GetQueueStatus(QS_ALLINPUT)) == 0) {
        }
    };
    core::TWorkerWait wait;
    wait.wakeOn = reader->Ready();
    wait.abandon = [&] {
        takeWhileNoMessage();
        timedOut = !taking.ended && GetTickCount64() - taking.lastArrival >= limit;
        return FCancelled || taking.writeFailed || timedOut;
    };
    if (FWorker.Run([reader] { reader->Run(); }, wait) == core::TWorkerCallEnd::Done) {
        // What the reader handed over after the last wake.
        while (!taking.ended && !FCancelled && !taking.writeFailed) {
            takeWhileNoMessage();
            ProcessMessages();
        }
    }
    reader->Stop();
    if (taking.writeFailed)
        return TBodyEnd::WriteFailed;
    if (FCancelled)
        return TBodyEnd::Cancelled;
    if (timedOut || taking.failed)
        return TBodyEnd::Dropped;
    if (transfer.expectedEnd > 0 && transfer.received < transfer.expectedEnd)
        return TBodyEnd::Dropped;
    return TBodyEnd::Complete;
}

}  // namespace memoline
