// The progress dialog's window, layout and close rules, and the login dialog.
#include <windows.h>

#include "download/DownloadLoginForm.h"
#include "tests/download/DownloadFixture.h"

namespace memoline::test {
namespace {

RECT ClientRectOf(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

struct Geometry {
    int height;
    RECT bar, size, rate, time, elapsed, cancel;
    bool fileVisible, timeVisible, elapsedVisible, cancelVisible;
    LONG_PTR style, exStyle;
    std::wstring caption;
};

Geometry Measure(TWebDownloader& d) {
    Geometry g{};
    HWND form = d.ProgressForm();
    RECT outer;
    GetWindowRect(form, &outer);
    EXPECT_EQ(outer.right - outer.left, 300);
    g.height = outer.bottom - outer.top;
    g.bar = ClientRectOf(d.ProgressBar());
    g.size = ClientRectOf(d.ProgressSizeLabel());
    g.rate = ClientRectOf(d.ProgressRateLabel());
    g.time = ClientRectOf(d.ProgressTimeLabel());
    g.elapsed = ClientRectOf(d.ProgressElapsedTimeLabel());
    g.cancel = ClientRectOf(d.ProgressCancelButton());
    g.fileVisible = IsWindowVisible(d.ProgressFileLabel());
    g.timeVisible = IsWindowVisible(d.ProgressTimeLabel());
    g.elapsedVisible = IsWindowVisible(d.ProgressElapsedTimeLabel());
    g.cancelVisible = IsWindowVisible(d.ProgressCancelButton());
    g.style = GetWindowLongPtrW(form, GWL_STYLE);
    g.exStyle = GetWindowLongPtrW(form, GWL_EXSTYLE);
    g.caption = WindowText(form);
    return g;
}

TEST_F(DownloadTest, DialogLayoutInThisSystemsConfiguration) {
    server_.Route("/Setup.exe", OkReply("abc"));
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    Geometry g;
    bool shownBefore = true;
    d_.OnBeforeDialogShow = [&](TObject* s, HWND dialog) {
        EXPECT_EQ(s, &d_);
        EXPECT_EQ(dialog, d_.ProgressForm());
        shownBefore = IsWindowVisible(dialog);
    };
    d_.OnFileStart = [&](TObject*, int) { g = Measure(d_); };
    Run();
    EXPECT_FALSE(shownBefore);
    EXPECT_EQ(g.height, GetSystemMetrics(SM_CYCAPTION) + 185);
    auto expectRect = [](RECT r, int left, int top, int width, int height, const char* what) {
        EXPECT_EQ(r.left, left) << what;
        EXPECT_EQ(r.top, top) << what;
        if (width >= 0)
            EXPECT_EQ(r.right - r.left, width) << what;
        if (height >= 0)
            EXPECT_EQ(r.bottom - r.top, height) << what;
    };
    expectRect(g.bar, 10, 20, 270, 12, "progress bar");
    expectRect(g.size, 10, 60, -1, -1, "size line");
    expectRect(g.rate, 10, 80, -1, -1, "rate line");
    expectRect(g.time, 10, 100, -1, -1, "time-left line");
    expectRect(g.elapsed, 10, 120, -1, -1, "elapsed line");
    expectRect(g.cancel, 205, 120, 75, 25, "Cancel button");
    EXPECT_FALSE(g.fileVisible);
    EXPECT_TRUE(g.timeVisible && g.elapsedVisible && g.cancelVisible);
    EXPECT_EQ(g.caption, L"Downloading..... ...");
    EXPECT_TRUE(g.exStyle & WS_EX_TOPMOST);
    EXPECT_FALSE(g.exStyle & WS_EX_COMPOSITED);
    EXPECT_FALSE(g.style & WS_SYSMENU);  // no border icons
    EXPECT_TRUE(g.style & WS_CAPTION);
}

// The updater's way: the dialog belongs to its main window, stays in front of that window only, and
// the main window is active again once it has closed.
TEST_F(DownloadTest, AnOwnedDialogIsNotTopMostAndHandsTheActivationBack) {
    const unique_hwnd owner(CreateWindowExW(0, L"STATIC", L"main", WS_POPUP | WS_CAPTION | WS_VISIBLE, 50, 50, 400, 300,
                                            nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(owner);
    SetForegroundWindow(owner.get());
    server_.Route("/Setup.exe", OkReply("abc"));
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    d_.ShowDialogOnTop = false;
    d_.DialogOwner = owner.get();
    HWND ownerSeen = nullptr;
    LONG_PTR exStyle = 0;
    bool dialogActive = false;
    d_.OnFileStart = [&](TObject*, int) {
        HWND dialog = d_.ProgressForm();
        ownerSeen = GetWindow(dialog, GW_OWNER);
        exStyle = GetWindowLongPtrW(dialog, GWL_EXSTYLE);
        dialogActive = GetForegroundWindow() == dialog;
    };
    Run();
    EXPECT_EQ(ownerSeen, owner.get());
    EXPECT_FALSE(exStyle & (WS_EX_TOPMOST | WS_EX_APPWINDOW | WS_EX_COMPOSITED)) << std::hex << exStyle;
    EXPECT_TRUE(dialogActive);
    EXPECT_EQ(GetForegroundWindow(), owner.get());
}

TEST_F(DownloadTest, DialogLayoutFollowsTheSwitches) {
    struct Case {
        bool showFileName, showTime, showElapsed, showCancel;
        int extraHeight;  // over SM_CYCAPTION
        int sizeTop, cancelTop;
    } cases[] = {
        {true, false, false, true, 145, 40, 100},  // the engine's defaults
        {true, true, true, true, 185, 40, 140},
        {false, true, false, false, 145, 60, 100},  // 20 shorter without Cancel
    };
    server_.Route("/Setup.exe", OkReply("abc"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extraHeight);
        AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
        d_.ShowFileName = c.showFileName;
        d_.ShowTime = c.showTime;
        d_.ShowElapsedTime = c.showElapsed;
        d_.DlgShowCancel = c.showCancel;
        Geometry g;
        std::wstring fileLine;
        d_.OnFileStart = [&](TObject*, int) { g = Measure(d_); };
        d_.OnCopyProgress = [&](TObject*, int, uint32_t, uint32_t) { fileLine = WindowText(d_.ProgressFileLabel()); };
        Run();
        EXPECT_EQ(g.height, GetSystemMetrics(SM_CYCAPTION) + c.extraHeight);
        EXPECT_EQ(g.size.top, c.sizeTop);
        EXPECT_EQ(g.rate.top, c.sizeTop + 20);
        EXPECT_EQ(g.cancel.top, c.cancelTop);
        EXPECT_EQ(g.fileVisible, c.showFileName);
        EXPECT_EQ(g.timeVisible, c.showTime);
        EXPECT_EQ(g.elapsedVisible, c.showElapsed);
        EXPECT_EQ(g.cancelVisible, c.showCancel);
        EXPECT_EQ(fileLine, L"File : Setup.exe");
    }
}

TEST_F(DownloadTest, FileLineNamesTheItemNumberAndServer) {
    server_.Route("/a.exe", OkReply("a"));
    AddItem(server_.Url("/a.exe"), L"a.exe");
    d_.Items()[0]->DisplayURL = L"Server update";
    d_.Items().Add()->Active = false;  // counted for the prefix rule, not in the total
    d_.ShowFileName = true;
    d_.ShowServer = true;
    std::wstring fileLine;
    d_.OnCopyProgress = [&](TObject*, int, uint32_t, uint32_t) { fileLine = WindowText(d_.ProgressFileLabel()); };
    Run();
    EXPECT_EQ(fileLine, L"File : 1 of 1 : Server update from 127.0.0.1:" + std::to_wstring(server_.Port()));
}

TEST_F(DownloadTest, DialogRefusesToCloseDuringTheRun) {
    server_.Route("/Setup.exe", OkReply(PatternBody(2 * 65536 + 1000)));
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    int refused = 0;
    d_.OnCopyProgress = [&](TObject*, int, uint32_t, uint32_t) {
        SendMessageW(d_.ProgressForm(), WM_CLOSE, 0, 0);
        refused += IsWindow(d_.ProgressForm()) ? 1 : 0;
    };
    HWND form = nullptr;
    d_.OnCopyDone = [&](TObject*) { form = d_.ProgressForm(); };
    Run();
    EXPECT_EQ(refused, 4);         // three reads and the final empty one
    EXPECT_FALSE(IsWindow(form));  // closed before OnCopyDone
    EXPECT_TRUE(d_.Items()[0]->Success());
}

// Fills in the login dialog when it appears: runs from a timer inside the dialog's modal loop.
struct LoginAnswer {
    std::wstring caption;
    std::wstring user, password;
    bool ok = true;
    TestHttpServer* server = nullptr;  // takes the credentials from the moment they are entered
    int shown = 0;
};
LoginAnswer* g_answer = nullptr;

void CALLBACK AnswerLogin(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND form = FindWindowW(L"TDownloadLoginForm", nullptr);
    if (!form || !IsWindowVisible(form))
        return;
    KillTimer(nullptr, timer);
    ++g_answer->shown;
    g_answer->caption = WindowText(form);
    RECT r;
    GetWindowRect(form, &r);
    EXPECT_EQ(r.right - r.left, 328);
    EXPECT_EQ(r.bottom - r.top, 223);
    SetDlgItemTextW(form, TDownloadLoginForm::kUserNameId, g_answer->user.c_str());
    SetDlgItemTextW(form, TDownloadLoginForm::kPasswordId, g_answer->password.c_str());
    g_answer->server->Route("/Setup.exe", OkReply("secret"));
    SendMessageW(GetDlgItem(form, g_answer->ok ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
}

TEST_F(DownloadTest, LoginDialogAnswersA401) {
    struct Case {
        bool ok;
        bool success;
    } cases[] = {{true, true}, {false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ok);
        RemoveTree(scratch_ / L"Setup.exe");
        TestHttpServer server;
        CannedReply challenge = StatusReply(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"updates\""});
        server.Route("/Setup.exe", challenge);
        TWebDownloadItem* item = AddItem(server.Url("/Setup.exe"), L"Setup.exe");
        item->Authenticate = TWebDownloadAuthentication::waAuto;
        LoginAnswer answer{L"", L"user", L"pass", c.ok, &server};
        g_answer = &answer;
        UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerLogin);
        events_.lines.clear();
        Run();
        KillTimer(nullptr, timer);
        EXPECT_EQ(answer.shown, 1);
        EXPECT_EQ(answer.caption, L"Connect to 127.0.0.1:" + std::to_wstring(server.Port()));
        EXPECT_EQ(d_.Items()[0]->Success(), c.success);
        auto requests = server.Requests();
        if (c.ok) {
            ASSERT_EQ(requests.size(), 2u);
            EXPECT_NE(requests[1].find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos);
            EXPECT_EQ(ReadFileRaw(scratch_ / L"Setup.exe"), "secret");
        } else {
            EXPECT_EQ(requests.size(), 1u);
            EXPECT_FALSE(FileExists(scratch_ / L"Setup.exe"));
        }
        // A cancelled login raises no error event.
        for (const auto& line : events_.lines)
            EXPECT_NE(line.rfind(L"Error", 0), 0u) << line;
        g_answer = nullptr;
    }
}

}  // namespace
}  // namespace memoline::test
