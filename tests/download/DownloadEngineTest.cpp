// The download engine against a loopback HTTP peer: results, files and the order of the events.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <stdexcept>

#include "download/DownloadText.h"
#include "tests/download/DownloadFixture.h"
#include "tests/support/MessageAnswers.h"

namespace memoline::test {
namespace {

using Lines = std::vector<std::wstring>;

// The engine's read size: one OnCopyProgress per read.
constexpr size_t kChunk = 65536;

TEST_F(DownloadTest, DownloadsBodiesOfEverySizeWithTheirEvents) {
    const size_t sizes[] = {0, 1, kChunk - 1, kChunk, kChunk + 1, 3 * 1024 * 1024 + 17};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        std::string body = PatternBody(size);
        server_.Route("/files/Setup.exe", OkReply(body));
        AddItem(server_.Url("/files/Setup.exe"), L"Setup.exe");
        events_ = EventLog();
        events_.Attach(d_);
        Run();

        EXPECT_EQ(Joined(events_.lines), Joined({L"FileStart 0", L"CopyProgress", L"FileDone 0", L"CopyDone"}));
        EXPECT_EQ(ReadFileRaw(scratch_ / L"Setup.exe"), body);
        // Every read is reported: counts grow by at most one chunk, end at the size, with the total each time;
        // the last report is the read that found the end.
        ASSERT_FALSE(events_.received.empty());
        EXPECT_EQ(events_.received.back(), size);
        EXPECT_EQ(events_.received.size(), size / kChunk + 1 + (size % kChunk ? 1 : 0));
        for (size_t i = 0; i < events_.received.size(); ++i) {
            uint32_t before = i ? events_.received[i - 1] : 0;
            EXPECT_LE(events_.received[i] - before, kChunk);
            EXPECT_EQ(events_.totals[i], size);
        }
        // An empty body leaves an empty file but is no success.
        EXPECT_EQ(d_.Items()[0]->Success(), size > 0);
        EXPECT_FALSE(d_.Items()[0]->Cancelled());
        EXPECT_EQ(d_.LastFile(), scratch_ / L"Setup.exe");
        EXPECT_EQ(d_.Items().SuccessCount(), size > 0 ? 1 : 0);
    }
}

TEST_F(DownloadTest, SendsTheAgentAndAsksForAFreshCopy) {
    server_.Route("/Setup.exe", OkReply("abc"));
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    Run();
    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /Setup.exe HTTP/1.1\r\n", 0), 0u) << requests[0];
    EXPECT_NE(requests[0].find("\r\nUser-Agent: WebDownload\r\n"), std::string::npos) << requests[0];
    EXPECT_EQ(requests[0].find("Authorization:"), std::string::npos) << requests[0];
}

TEST_F(DownloadTest, SendsBasicCredentials) {
    server_.Route("/Setup.exe", OkReply("abc"));
    TWebDownloadItem* item = AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    item->HTTPUserID = L"user";
    item->HTTPPassword = L"pass";
    Run();
    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos) << requests[0];
    EXPECT_TRUE(d_.Items()[0]->Success());
}

TEST_F(DownloadTest, ErrorStatusRaisesErrorEventsAndCreatesNoFile) {
    const int statuses[] = {404, 401, 500};  // 401 is an ordinary error without a login
    for (int status : statuses) {
        SCOPED_TRACE(status);
        server_.Route("/Setup.exe", StatusReply(status, "Refused"));
        AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
        events_.lines.clear();
        Run();
        std::wstring code = std::to_wstring(status);
        EXPECT_EQ(Joined(events_.lines),
                  Joined({L"FileStart 0", L"Error " + code, L"ErrorInfo " + code + L" Returned http error code " + code,
                          L"FileDone 0", L"CopyDone"}));
        EXPECT_FALSE(FileExists(scratch_ / L"Setup.exe"));
        EXPECT_FALSE(d_.Items()[0]->Success());
    }
}

TEST_F(DownloadTest, UnreachableAddressRaisesURLNotFoundOnly) {
    // A port that was just free: nothing listens there.
    int closedPort;
    {
        TestHttpServer other;
        closedPort = other.Port();
    }
    const std::wstring urls[] = {
        L"http://a..b/Setup.exe",  // cannot be resolved, and no name server is asked
        L"http://127.0.0.1:" + std::to_wstring(closedPort) + L"/Setup.exe",
        L"not a url",
    };
    for (const auto& url : urls) {
        SCOPED_TRACE(testing::PrintToString(url));
        AddItem(url, L"Setup.exe");
        events_.lines.clear();
        Run();
        EXPECT_EQ(Joined(events_.lines), Joined({L"FileStart 0", L"URLNotFound " + url, L"FileDone 0", L"CopyDone"}));
        EXPECT_FALSE(FileExists(scratch_ / L"Setup.exe"));
        EXPECT_FALSE(d_.Items()[0]->Success());
    }
}

TEST_F(DownloadTest, CreatesTheMissingTargetDirectoryChain) {
    server_.Route("/Setup.exe", OkReply("setup"));
    TWebDownloadItem* item = AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    item->TargetDir = scratch_ / L"a\\b\\c";  // no trailing backslash either
    Run();
    EXPECT_EQ(ReadFileRaw(scratch_ / L"a\\b\\c\\Setup.exe"), "setup");
    EXPECT_EQ(d_.LastDir(), scratch_ / L"a\\b\\c");
    EXPECT_TRUE(d_.Items()[0]->Success());
}

TEST_F(DownloadTest, ExistingTargetFile) {
    struct Case {
        const char* name;
        bool allow;
        bool unique;
        const wchar_t* written;  // the file that gets the new body, or nothing
        bool success;
    } cases[] = {
        {"overwritten from its start", true, false, L"Setup.exe", true},
        {"kept when the handler refuses", false, false, nullptr, false},
        {"kept beside a numbered copy", true, true, L"Setup(2).exe", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(scratch_ / L"Setup.exe");
        RemoveTree(scratch_ / L"Setup(2).exe");
        WriteFileRaw(scratch_ / L"Setup.exe", std::string(10000, 'x'));
        WriteFileRaw(scratch_ / L"Setup(1).exe", "one");
        server_.Route("/Setup.exe", OkReply("new"));
        AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
        d_.CreateUniqueFilenames = c.unique;
        std::vector<std::wstring> asked;
        d_.OnCopyOverWrite = [&](TObject*, const std::wstring& file, bool& allow) {
            asked.push_back(file);
            allow = c.allow;
        };
        events_.lines.clear();
        Run();
        EXPECT_EQ(asked, Lines{scratch_ / L"Setup.exe"});
        EXPECT_EQ(d_.Items()[0]->Success(), c.success);
        if (c.written)
            EXPECT_EQ(ReadFileRaw(scratch_ / c.written), "new");
        if (!c.written || std::wstring(c.written) != L"Setup.exe")
            EXPECT_EQ(ReadFileRaw(scratch_ / L"Setup.exe"), std::string(10000, 'x'));
        EXPECT_EQ(ReadFileRaw(scratch_ / L"Setup(1).exe"), "one");
        // A refusal is no error.
        EXPECT_EQ(events_.lines.front(), L"FileStart 0");
        EXPECT_EQ(events_.lines.back(), L"CopyDone");
        for (const auto& line : events_.lines)
            EXPECT_NE(line.rfind(L"Error", 0), 0u) << line;
    }
}

TEST_F(DownloadTest, ResponseWithoutLengthRunsTheMarqueeAndShowsNoTotal) {
    std::string body = PatternBody(300000);
    server_.Route("/Setup.exe", OkReplyWithoutLength(body));
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    int checked = 0;
    std::wstring firstSize, lastSize, lastTime, lastElapsed;
    d_.OnCopyProgress = [&](TObject*, int, uint32_t total, uint32_t) {
        EXPECT_EQ(total, 0u);
        EXPECT_TRUE(GetWindowLongPtrW(d_.ProgressBar(), GWL_STYLE) & PBS_MARQUEE);
        EXPECT_EQ(d_.TimeLeftStr(), d_.ElapsedTimeStr());
        EXPECT_EQ(WindowText(d_.ProgressForm()), L"Downloading..... : 0% completed");
        if (checked++ == 0)
            firstSize = WindowText(d_.ProgressSizeLabel());
    };
    d_.OnFileDone = [&](TObject*, int) {  // the dialog still shows the transfer's last values
        lastSize = WindowText(d_.ProgressSizeLabel());
        lastTime = WindowText(d_.ProgressTimeLabel());
        lastElapsed = WindowText(d_.ProgressElapsedTimeLabel());
        EXPECT_EQ(lastElapsed, L"Elapsed time : " + d_.ElapsedTimeStr());
    };
    Run();
    EXPECT_GE(checked, 5);
    EXPECT_EQ(firstSize, L"Progress : 65.54 Kb");  // the first chunk is shown at once
    EXPECT_EQ(lastSize, L"Progress : 300.00 Kb");
    EXPECT_EQ(lastTime.substr(lastTime.find(L" : ")), lastElapsed.substr(lastElapsed.find(L" : ")));
    EXPECT_EQ(ReadFileRaw(scratch_ / L"Setup.exe"), body);
    EXPECT_TRUE(d_.Items()[0]->Success());
}

TEST_F(DownloadTest, KnownLengthShowsTheTotalAndThePercentage) {
    server_.Route("/Setup.exe", OkReply(PatternBody(2 * kChunk)));
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    std::vector<std::wstring> captions;
    std::wstring firstSize, lastSize, lastRate;
    d_.OnCopyProgress = [&](TObject*, int, uint32_t, uint32_t) {
        EXPECT_FALSE(GetWindowLongPtrW(d_.ProgressBar(), GWL_STYLE) & PBS_MARQUEE);
        captions.push_back(WindowText(d_.ProgressForm()));
        if (captions.size() == 1)
            firstSize = WindowText(d_.ProgressSizeLabel());
    };
    int barAtEnd = -1;
    d_.OnFileDone = [&](TObject*, int) {
        lastSize = WindowText(d_.ProgressSizeLabel());
        lastRate = WindowText(d_.ProgressRateLabel());
        barAtEnd = static_cast<int>(SendMessageW(d_.ProgressBar(), PBM_GETPOS, 0, 0));
    };
    Run();
    ASSERT_EQ(captions.size(), 3u);
    EXPECT_EQ(captions[0], L"Downloading..... : 50% completed");
    EXPECT_EQ(captions[1], L"Downloading..... : 100% completed");
    EXPECT_EQ(captions[2], L"Downloading..... : 100% completed");
    EXPECT_EQ(firstSize, L"Progress : 65.54 Kb of 131.07 Kb");
    EXPECT_EQ(lastSize, L"Progress : 131.07 Kb of 131.07 Kb");
    EXPECT_EQ(lastRate, L"Transfer rate : " + d_.RateStr());
    EXPECT_EQ(barAtEnd, 100);
}

TEST_F(DownloadTest, DerivedNameComesFromTheFinalUrlAndIsDecoded) {
    struct Case {
        const char* finalPath;
        const wchar_t* file;
    } cases[] = {
        {"/files/My%20Setup.exe", L"My Setup.exe"},
        {"/files/a%2fb.exe", L"ab.exe"},
        {"/files/setup%x", L"setupx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.finalPath);
        server_.Route("/go", RedirectReply(c.finalPath));
        server_.Route(c.finalPath, OkReply("redirected"));
        AddItem(server_.Url("/go"), L"");
        Run();
        EXPECT_EQ(ReadFileRaw(scratch_ / c.file), "redirected");
        EXPECT_EQ(d_.LastFile(), scratch_ / c.file);
        EXPECT_TRUE(d_.Items()[0]->Success());
        EXPECT_FALSE(FileExists(scratch_ / L"go"));
    }
}

TEST_F(DownloadTest, GivenNameIsNeverDecoded) {
    server_.Route("/files/setup%20v5.exe", OkReply("v5"));
    AddItem(server_.Url("/files/setup%20v5.exe"), L"setup%20v5.exe");
    Run();
    EXPECT_EQ(ReadFileRaw(scratch_ / L"setup%20v5.exe"), "v5");
    EXPECT_FALSE(FileExists(scratch_ / L"setup v5.exe"));
}

TEST_F(DownloadTest, EveryRunStartsItsPercentageFromZero) {
    server_.Route("/Full.exe", OkReply(PatternBody(8192)));
    server_.Route("/Open.exe", OkReplyWithoutLength(PatternBody(8192)));
    std::vector<std::wstring> captions;
    d_.OnCopyProgress = [&](TObject*, int, uint32_t, uint32_t) { captions.push_back(WindowText(d_.ProgressForm())); };
    AddItem(server_.Url("/Full.exe"), L"Full.exe");
    Run();
    ASSERT_FALSE(captions.empty());
    EXPECT_EQ(captions.back(), L"Downloading..... : 100% completed");
    captions.clear();
    // The second server sends no length: its bar never moves, so its caption stays at 0 throughout.
    AddItem(server_.Url("/Open.exe"), L"Open.exe");
    Run();
    ASSERT_FALSE(captions.empty());
    for (const auto& caption : captions)
        EXPECT_EQ(caption, L"Downloading..... : 0% completed");
}

// The first four chunks of a 1 MiB file, one every 60 ms, and then the server waits: the transfer
// loop (which asks for messages at most every 20 ms) sees the operator's input between them, and a
// run that is not cancelled never ends.
CannedReply StalledAfterFourChunks() {
    CannedReply reply = OkReply(PatternBody(1 << 20));
    reply.body.resize(4 * kChunk);
    reply.pieceSize = kChunk;
    reply.pieceDelayMs = 60;
    reply.holdOpen = true;
    return reply;
}

TEST_F(DownloadTest, CancelInTheDialogDeletesTheFile) {
    server_.Route("/Setup.exe", StalledAfterFourChunks());
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    bool formAliveAtCancel = false;
    bool formAliveAtDone = true;
    auto record = d_.OnCopyProgress;
    d_.OnCopyProgress = [&](TObject* s, int idx, uint32_t total, uint32_t received) {
        record(s, idx, total, received);
        if (events_.received.size() == 2)  // the operator clicks Cancel after the second chunk
            PostMessageW(d_.ProgressCancelButton(), BM_CLICK, 0, 0);
    };
    auto cancel = d_.OnCopyCancel;
    d_.OnCopyCancel = [&](TObject* s) {
        cancel(s);
        formAliveAtCancel = IsWindowVisible(d_.ProgressForm());
    };
    auto done = d_.OnCopyDone;
    d_.OnCopyDone = [&](TObject* s) {
        done(s);
        formAliveAtDone = IsWindow(d_.ProgressForm());
    };
    Run();
    EXPECT_EQ(Joined(events_.lines), Joined({L"FileStart 0", L"CopyProgress", L"CopyCancel", L"CopyDone"}));
    EXPECT_EQ(events_.received.size(), 2u);
    EXPECT_TRUE(formAliveAtCancel);
    EXPECT_FALSE(formAliveAtDone);
    EXPECT_TRUE(d_.Cancelled());
    EXPECT_TRUE(d_.Items()[0]->Cancelled());
    EXPECT_FALSE(d_.Items()[0]->Success());
    EXPECT_FALSE(FileExists(scratch_ / L"Setup.exe"));
}

// Esc in the dialog is its Cancel button, also while the dialog has the focus rather than the button.
TEST_F(DownloadTest, EscInTheDialogCancels) {
    server_.Route("/Setup.exe", StalledAfterFourChunks());
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    auto record = d_.OnCopyProgress;
    d_.OnCopyProgress = [&](TObject* s, int idx, uint32_t total, uint32_t received) {
        record(s, idx, total, received);
        if (events_.received.size() == 2) {
            SetFocus(d_.ProgressForm());
            PostMessageW(d_.ProgressForm(), WM_KEYDOWN, VK_ESCAPE, 1);
        }
    };
    Run();
    EXPECT_EQ(Joined(events_.lines), Joined({L"FileStart 0", L"CopyProgress", L"CopyCancel", L"CopyDone"}));
    EXPECT_TRUE(d_.Items()[0]->Cancelled());
    EXPECT_FALSE(FileExists(scratch_ / L"Setup.exe"));
}

TEST_F(DownloadTest, CancelSkipsTheRemainingItems) {
    server_.Route("/a.exe", OkReply(PatternBody(10000)));
    server_.Route("/b.exe", OkReply("b"));
    AddItem(server_.Url("/a.exe"), L"a.exe");
    TWebDownloadItem* second = d_.Items().Add();
    second->URL = server_.Url("/b.exe");
    second->TargetDir = scratch_.Path();
    auto record = d_.OnCopyProgress;
    d_.OnCopyProgress = [&](TObject* s, int idx, uint32_t total, uint32_t received) {
        record(s, idx, total, received);
        d_.CancelCopy();  // no event, the loop stops at its next check
    };
    Run();
    EXPECT_EQ(Joined(events_.lines), Joined({L"FileStart 0", L"CopyProgress", L"CopyDone"}));
    EXPECT_FALSE(FileExists(scratch_ / L"a.exe"));
    EXPECT_FALSE(FileExists(scratch_ / L"b.exe"));
    EXPECT_TRUE(d_.Items()[0]->Cancelled());
    EXPECT_EQ(server_.Requests().size(), 1u);
}

TEST_F(DownloadTest, InactiveItemsAreSkippedAndNotCounted) {
    server_.Route("/a.exe", OkReply("a"));
    server_.Route("/c.exe", OkReply("c"));
    AddItem(server_.Url("/a.exe"), L"a.exe");
    for (const char* name : {"b", "c"}) {
        TWebDownloadItem* item = d_.Items().Add();
        item->URL = server_.Url(std::string("/") + name + ".exe");
        item->TargetDir = scratch_.Path();
        item->Active = name[0] != 'b';
    }
    d_.OnCopyProgress = nullptr;
    Run();
    EXPECT_EQ(Joined(events_.lines),
              Joined({L"FileStart 0", L"FileDone 0", L"FileStart 2", L"FileDone 2", L"CopyDone"}));
    EXPECT_EQ(d_.Items().ActiveItems(), 2);
    EXPECT_EQ(d_.Items().SuccessCount(), 2);
    EXPECT_EQ(ReadFileRaw(scratch_ / L"c.exe"), "c");
    EXPECT_FALSE(FileExists(scratch_ / L"b.exe"));
}

TEST_F(DownloadTest, ThreadExecuteReturnsBeforeTheRunBegins) {
    server_.Route("/Setup.exe", OkReply("abc"));
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    d_.ThreadExecute();
    EXPECT_TRUE(events_.lines.empty());
    // The run happens when the UI thread processes its messages.
    for (int i = 0; i < 500 && (events_.lines.empty() || events_.lines.back() != L"CopyDone"); ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        TWebDownloader::ProcessMessages();
    }
    EXPECT_EQ(events_.lines.back(), L"CopyDone");
    EXPECT_FALSE(events_.offUiThread);
    EXPECT_EQ(ReadFileRaw(scratch_ / L"Setup.exe"), "abc");
    // The worker's end is reported on the UI thread too.
    for (int i = 0; i < 500 && !d_.CopyCompleted(); ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        TWebDownloader::ProcessMessages();
    }
    EXPECT_TRUE(d_.CopyCompleted());
}

// --- Mends: a failed transfer must never look like a finished file. ---

TEST_F(DownloadTest, ShortBodyIsAFailedDownload) {
    server_.Route("/Setup.exe", TruncatedReply(10000, PatternBody(5000)));
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    Run();
    std::wstring path = scratch_ / L"Setup.exe";
    EXPECT_EQ(Joined(events_.lines), Joined({L"FileStart 0", L"CopyProgress", L"Error 4",
                                             L"ErrorInfo 4 Download incomplete: " + path, L"FileDone 0", L"CopyDone"}));
    EXPECT_EQ(events_.received.back(), 5000u);
    EXPECT_FALSE(d_.Items()[0]->Success());
    EXPECT_FALSE(FileExists(path));
}

class FailingWriteDownloader : public TWebDownloader {
public:
    int writes = 0;
    int failAt = 2;

protected:
    bool WriteTargetData(HANDLE file, const char* data, DWORD size) override {
        if (++writes == failAt) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        return TWebDownloader::WriteTargetData(file, data, size);
    }
};

TEST_F(DownloadTest, WriteFailureEndsTheRunLikeAFailedOne) {
    FailingWriteDownloader d;
    ConfigureAsUpdater(d);
    EventLog events;
    events.Attach(d);
    bool formAliveAtDone = true;
    auto done = d.OnCopyDone;
    d.OnCopyDone = [&](TObject* s) {
        done(s);
        formAliveAtDone = IsWindow(d.ProgressForm());
    };
    server_.Route("/Setup.exe", OkReply(PatternBody(3 * kChunk)));
    TWebDownloadItem* item = d.Items().Add();
    item->URL = server_.Url("/Setup.exe");
    item->TargetDir = scratch_.Path();
    item->TargetFilename = L"Setup.exe";
    d.ThreadExecAndWait();
    std::wstring path = scratch_ / L"Setup.exe";
    EXPECT_EQ(Joined(events.lines), Joined({L"FileStart 0", L"CopyProgress", L"Error 5",
                                            L"ErrorInfo 5 Cannot write file " + path, L"FileDone 0", L"CopyDone"}));
    EXPECT_EQ(events.received, std::vector<uint32_t>{kChunk});  // the failed chunk is not reported
    EXPECT_FALSE(d.Items()[0]->Success());
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(formAliveAtDone);
}

TEST_F(DownloadTest, TargetNameMustStayInsideTheTargetDirectory) {
    struct Case {
        const char* urlPath;
        const wchar_t* targetFilename;
        const wchar_t* refusedName;
    } cases[] = {
        {"/Setup.exe", L"..\\evil.exe", L"..\\evil.exe"},
        {"/Setup.exe", L"sub/evil.exe", L"sub/evil.exe"},
        {"/Setup.exe", L"C:evil.exe", L"C:evil.exe"},
        {"/Setup.exe", L"..", L".."},
        {"/Setup.exe", L"   ", L"   "},
        {"/Setup.exe", L"evil\r\n.exe", L"evil\r\n.exe"},
        {"/files/..%5Cevil.exe", L"", L"..\\evil.exe"},  // derived and decoded
        {"/files/", L"", L""},                           // a link ending in "/"
    };
    std::wstring sub = scratch_ / L"target\\";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.refusedName)));
        server_.Route(c.urlPath, OkReply("evil"));
        TWebDownloadItem* item = AddItem(server_.Url(c.urlPath), c.targetFilename);
        item->TargetDir = sub;
        events_.lines.clear();
        Run();
        EXPECT_EQ(Joined(events_.lines),
                  Joined({L"FileStart 0", L"Error 3", L"ErrorInfo 3 Cannot create file " + std::wstring(c.refusedName),
                          L"FileDone 0", L"CopyDone"}));
        EXPECT_FALSE(d_.Items()[0]->Success());
        // Nothing written: not even the target folder exists, and nothing appeared beside it.
        EXPECT_FALSE(FileExists(sub));
        EXPECT_FALSE(FileExists(scratch_ / L"evil.exe"));
    }
}

TEST_F(DownloadTest, UncreatableTargetFileRaisesCodeThree) {
    server_.Route("/Setup.exe", OkReply("x"));
    CreateDirectories(scratch_ / L"Setup.exe");  // a folder where the file should go
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    Run();
    std::wstring path = scratch_ / L"Setup.exe";
    EXPECT_EQ(Joined(events_.lines), Joined({L"FileStart 0", L"Error 3", L"ErrorInfo 3 Cannot create file " + path,
                                             L"FileDone 0", L"CopyDone"}));
    EXPECT_FALSE(d_.Items()[0]->Success());
}

}  // namespace
}  // namespace memoline::test

namespace memoline::test {
namespace {

struct HandlerFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace

// A handler that throws must not end the process from the run's worker thread: the run finishes, the
// worker ends, and the error reaches the operator on the UI thread.
TEST_F(DownloadTest, AThrowingHandlerEndsTheRunAndIsReportedOnTheUiThread) {
    server_.Route("/Setup.exe", OkReply(PatternBody(10000)));
    const struct {
        const char* name;
        std::function<void(TWebDownloader&, std::function<void()>)> attach;
        bool expectDone;  // OnCopyDone is still raised (it is not the handler that threw)
    } cases[] = {
        {"OnCopyDone",
         [](TWebDownloader& d, std::function<void()> fail) { d.OnCopyDone = [fail](TObject*) { fail(); }; }, false},
        {"OnCopyProgress",
         [](TWebDownloader& d, std::function<void()> fail) {
             d.OnCopyProgress = [fail](TObject*, int, uint32_t, uint32_t) { fail(); };
         },
         true},
    };
    for (const auto& c : cases) {
        ScopedMessageAnswers boxes;
        AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
        events_.Attach(d_);
        c.attach(d_, [] { throw HandlerFailure("the handler failed"); });
        Run();  // returns only once the worker has ended
        EXPECT_TRUE(d_.CopyCompleted()) << c.name;
        ASSERT_EQ(boxes.Shown().size(), 1u) << c.name;
        EXPECT_EQ(boxes.Shown()[0].text, L"the handler failed") << c.name;
        EXPECT_EQ(boxes.Shown()[0].type, ui::TMsgDlgType::Error) << c.name;
        EXPECT_FALSE(IsWindow(d_.ProgressForm())) << c.name << ": the dialog outlived the run";
        EXPECT_EQ(!events_.lines.empty() && events_.lines.back() == L"CopyDone", c.expectDone) << c.name;
        events_.lines.clear();
    }
}

}  // namespace memoline::test
