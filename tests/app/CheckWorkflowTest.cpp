// The update check in the main window: the catalogue answer (from a loopback peer) split into rows,
// the grid's caption and the operator's messages.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/MainForm.h"
#include "catalogue/CatalogueConfig.h"
#include "catalogue/UpdateRequestHelper.h"
#include "core/Handles.h"
#include "tests/support/BodyCoding.h"
#include "tests/support/CannedHttpServer.h"
#include "tests/support/DuringWait.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/MessageAnswers.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/ResponsivenessProbe.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TestFiles.h"
#include "ui/Application.h"

namespace memoline {
namespace {

using test::CannedHttpServer;
using test::ResponseWithLength;
using ui::TMsgDlgType;

struct Row {
    std::wstring version, build, date, link;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
    auto n = [](const std::wstring& s) { return std::string(s.begin(), s.end()); };
    *os << "{" << n(r.version) << " | " << n(r.build) << " | " << n(r.date) << " | " << n(r.link) << "}";
}

class CheckWorkflow : public testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TfrmMain>();
        form->Show();
        ui::Application().ProcessMessages();
    }
    void TearDown() override {
        form.reset();
        CatalogueAddress = kCatalogueUrl;
    }
    // Serves `body` as the catalogue's answer for the next check.
    std::unique_ptr<CannedHttpServer> Catalogue(const std::string& body,
                                                const std::string& status = "HTTP/1.1 200 OK") {
        auto server = std::make_unique<CannedHttpServer>(
            std::vector<std::vector<test::CannedReply>>{{{ResponseWithLength(status, {}, body)}}});
        CatalogueAddress = std::wstring(L"http://127.0.0.1:") + std::to_wstring(server->Port()) +
                           L"/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates";
        return server;
    }
    std::vector<Row> Rows() const {
        std::vector<Row> rows;
        ui::TListGrid& g = *form->grdUpdates;
        for (int r = 0; r < g.RowCount(); ++r) {
            rows.push_back({g.Cell(r, form->colVersion), g.Cell(r, form->colBuild), g.Cell(r, form->colReleaseDate),
                            g.Cell(r, form->colLink)});
        }
        return rows;
    }
    // Presses Check and returns the messages shown.
    std::vector<test::ShownMessage> Check() {
        test::ScopedMessageAnswers answers;
        form->btnCheckClick(form->btnCheck);
        return answers.Shown();
    }

    test::ProductInstallation product;
    std::unique_ptr<TfrmMain> form;
};

void ExpectOneMessage(const std::vector<test::ShownMessage>& shown, const std::wstring& text, TMsgDlgType type) {
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, text);
    EXPECT_EQ(shown[0].type, type);
}

TEST_F(CheckWorkflow, TheSplittingTableWithInstalledVersion590) {
    product.InstallServer(L"5.9.0");
    auto server = Catalogue(
        "N;5.9.1;D;L;E\r\n"
        "N;5.9.1;D;L;E;\r\n"
        "N;5.9.1;D;L;E; \r\n"
        "N; 5.9.1 ;D;L;E\r\n"
        "N;;D;L;E\r\n"
        "N X;5.9.1;D;L;E\r\n"
        "N;5.9.0;D;L;E\r\n"
        "N;5.10;D;L;E\r\n"
        "\"Server \"\"Spring\"\" 2026\";5.9.3;2026-04-01;https://h/s.exe;x\r\n");
    ExpectOneMessage(Check(), L"There are 5 Server Updates available.", TMsgDlgType::Information);
    EXPECT_EQ(Rows(), (std::vector<Row>{{L"N", L"5.9.1", L"D", L"L"},
                                        {L"N", L"5.9.1", L"D", L"L"},
                                        {L"N", L"5.9.1", L"D", L"L"},
                                        {L"N", L"5.10", L"D", L"L"},
                                        {L"Server \"Spring\" 2026", L"5.9.3", L"2026-04-01", L"https://h/s.exe"}}));
    EXPECT_EQ(form->grdUpdates->EmptyCaption(), L"");
    EXPECT_EQ(form->grdUpdates->SelectedRow(), -1);
}

TEST_F(CheckWorkflow, CountsAndCaptions) {
    struct Case {
        const char* name;
        std::string body;
        size_t rows;
        std::wstring message;
        std::wstring caption;
    } cases[] = {
        {"empty", "", 0, L"You have the latest Server Update.", L"There are no newer versions available."},
        {"blank lines only", "\r\n  \r\n\t\r\n", 0, L"You have the latest Server Update.",
         L"There are no newer versions available."},
        {"only older", "N;5.8;D;L;E\n", 0, L"You have the latest Server Update.",
         L"There are no newer versions available."},
        {"one", "N;5.9.1;D;L;E\n", 1, L"There is one Server Updates available.", L""},
        {"three", "A;6;D;L;E\nB;7;D;L;E\nA;6;D;L;E\n", 3, L"There are 3 Server Updates available.", L""},
    };
    product.InstallServer(L"5.9.0");
    for (const auto& c : cases) {
        auto server = Catalogue(c.body);
        ExpectOneMessage(Check(), c.message, TMsgDlgType::Information);
        EXPECT_EQ(Rows().size(), c.rows) << c.name;
        EXPECT_EQ(form->grdUpdates->EmptyCaption(), c.caption) << c.name;
    }
}

TEST_F(CheckWorkflow, ALongCatalogueIsListedWholeAndInOrder) {
    product.InstallServer(L"5.9.0");
    std::string body;
    for (int i = 1; i <= 5000; ++i) {
        const std::string n = std::to_string(i);
        body += "\"Server " + n + "\";6." + n + ";2026-04-01;https://h/s" + n + ".exe;x\r\n";
        if (i % 1000 == 0)
            body += "Older;5.8;D;L;E\r\n";  // skipped among them
    }
    auto server = Catalogue(body);
    ExpectOneMessage(Check(), L"There are 5000 Server Updates available.", TMsgDlgType::Information);
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 5000u);
    EXPECT_EQ(rows.front(), (Row{L"Server 1", L"6.1", L"2026-04-01", L"https://h/s1.exe"}));
    EXPECT_EQ(rows.back(), (Row{L"Server 5000", L"6.5000", L"2026-04-01", L"https://h/s5000.exe"}));
    EXPECT_EQ(ListView_GetItemCount(form->grdUpdates->Handle()), 5000);
    EXPECT_TRUE(IsWindowVisible(form->grdUpdates->Handle()));
    EXPECT_EQ(form->grdUpdates->SelectedRow(), -1);
}

TEST_F(CheckWorkflow, WorksWithOnlyTheClientInstalled) {
    product.InstallClient(L"5.9.0");
    auto server = Catalogue("N;5.9.1;D;L;E\nN;5.9.0;D;L;E\n");
    ExpectOneMessage(Check(), L"There is one Server Updates available.", TMsgDlgType::Information);
    EXPECT_EQ(Rows(), (std::vector<Row>{{L"N", L"5.9.1", L"D", L"L"}}));
}

TEST_F(CheckWorkflow, WithoutAnInstallationNothingIsSentAndTheGridStays) {
    {
        test::ProductInstallation installed;
        installed.InstallServer(L"5.9.0");
        auto server = Catalogue("N;5.9.1;D;L;E\n");
        Check();
    }  // the installation is removed here
    ASSERT_EQ(Rows().size(), 1u);
    auto server = Catalogue("N;5.9.2;D;L;E\n");
    ExpectOneMessage(Check(), L"Unable to location Memoline on this computer.", TMsgDlgType::Error);
    EXPECT_EQ(server->Requests().size(), 0u) << "the request went out";
    EXPECT_EQ(Rows(), (std::vector<Row>{{L"N", L"5.9.1", L"D", L"L"}}));
    EXPECT_EQ(form->grdUpdates->EmptyCaption(), L"");
}

TEST_F(CheckWorkflow, AFailedRequestIsReportedAsAFailure) {
    product.InstallServer(L"5.9.0");
    {
        auto server = Catalogue("N;5.9.1;D;L;E\n");
        Check();
    }
    ASSERT_EQ(Rows().size(), 1u);
    {
        auto server = Catalogue("gone", "HTTP/1.1 404 Not Found");
        ExpectOneMessage(Check(), L"Unable to check for updates.\r\n\r\nHTTP/1.1 404 Not Found", TMsgDlgType::Error);
    }
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(form->grdUpdates->EmptyCaption(), L"Unable to check for updates.");

    // Nobody listening: the connection failure's message follows the blank line.
    auto server = Catalogue("");
    server->Requests();  // closes the listener
    const auto shown = Check();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].type, TMsgDlgType::Error);
    EXPECT_EQ(shown[0].text.rfind(L"Unable to check for updates.\r\n\r\n", 0), 0u);
    EXPECT_GT(shown[0].text.size(), std::wstring(L"Unable to check for updates.\r\n\r\n").size());
    EXPECT_EQ(form->grdUpdates->EmptyCaption(), L"Unable to check for updates.");
}

// A catalogue answer cut short is no answer: the check reports a failure instead of listing what
// arrived.
TEST_F(CheckWorkflow, ACatalogueAnswerCutShortIsAFailure) {
    product.InstallServer(L"5.9.0");
    const std::string part = "N;5.9.1;D;L;E\r\n";
    std::string chunks = test::Chunked(part, 5);
    chunks.resize(chunks.size() - 5);  // without the last chunk, "0" CR LF CR LF
    for (const std::string& reply : {"HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n" + part,
                                     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks}) {
        CannedHttpServer server({{{reply, true}}});
        CatalogueAddress = std::wstring(L"http://127.0.0.1:") + std::to_wstring(server.Port()) + L"/catalogue";
        const auto shown = Check();
        ASSERT_EQ(shown.size(), 1u) << reply;
        EXPECT_EQ(shown[0].type, TMsgDlgType::Error) << reply;
        EXPECT_EQ(shown[0].text.rfind(L"Unable to check for updates.", 0), 0u) << reply;
        EXPECT_TRUE(Rows().empty()) << reply;
    }
}

// A broken answer is never taken for the catalogue, however its length header agrees: the check fails
// and the operator reads the cause.
TEST_F(CheckWorkflow, ABrokenAnswerFailsTheCheckAndNamesTheCause) {
    product.InstallServer(L"5.9.0");
    const std::string catalogue = "N;5.9.1;D;L;E\r\nN;5.9.2;D;L;E\r\n";
    const std::string gzip = test::Gzip(catalogue);
    const std::string halfGzip = gzip.substr(0, gzip.size() / 2);
    const struct {
        const char* what;
        std::string reply;
        std::wstring cause;
    } cases[] = {
        {"gzip cut in half, the length matching the cut",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(halfGzip.size()) +
             "\r\n\r\n" + halfGzip,
         L"Uncompressing error - unexpected end of data"},
        {"chunk-size line that is not hexadecimal",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n" + catalogue + "\r\n0\r\n\r\n",
         L"The chunk size line of the response is malformed"},
        {"chunk size beyond 32 bits", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1FFFFFFFF\r\n" + catalogue,
         L"The chunk size line of the response is malformed"},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n" + catalogue,
         L"The Content-Length of the response is invalid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CannedHttpServer server({{{c.reply, true}}});
        CatalogueAddress = std::wstring(L"http://127.0.0.1:") + std::to_wstring(server.Port()) + L"/catalogue";
        ExpectOneMessage(Check(), L"Unable to check for updates.\r\n\r\n" + c.cause, TMsgDlgType::Error);
        EXPECT_TRUE(Rows().empty());
        EXPECT_EQ(form->grdUpdates->EmptyCaption(), L"Unable to check for updates.");
    }
}

// What comes before the final answer is passed over whole: an early-hints answer, and a redirect whose
// body arrives late on the kept-alive connection (read to its end, so none of it is taken for the
// start of the catalogue's answer).
TEST_F(CheckWorkflow, AnEarlyHintsAnswerAndARedirectWithALateBodyStillGiveTheList) {
    product.InstallServer(L"5.9.0");
    const std::string catalogue = "N;5.9.1;D;L;E\r\nN;5.9.2;D;L;E\r\n";
    const std::string earlyHints = "HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n";
    test::CannedReply lateRedirect{"HTTP/1.1 302 Found\r\nLocation: /second\r\nContent-Length: 40\r\n\r\n"};
    lateRedirect.body = std::string(40, 'r');
    lateRedirect.pieceSize = 10;
    lateRedirect.pieceDelayMs = 300;
    const struct {
        const char* what;
        std::vector<test::CannedReply> replies;  // on one connection
    } cases[] = {
        {"103 before the answer", {{earlyHints + ResponseWithLength("HTTP/1.1 200 OK", {}, catalogue), true}}},
        {"302 with a late body", {lateRedirect, {ResponseWithLength("HTTP/1.1 200 OK", {}, catalogue), true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CannedHttpServer server({c.replies});
        CatalogueAddress = std::wstring(L"http://127.0.0.1:") + std::to_wstring(server.Port()) + L"/catalogue";
        ExpectOneMessage(Check(), L"There are 2 Server Updates available.", TMsgDlgType::Information);
        EXPECT_EQ(Rows(), (std::vector<Row>{{L"N", L"5.9.1", L"D", L"L"}, {L"N", L"5.9.2", L"D", L"L"}}));
        EXPECT_EQ(server.Requests().size(), 1u);  // one connection for all
    }
}

// A catalogue that takes the request and answers only when released, on a thread of its own so the
// UI thread never waits for it; it takes one connection, and a second request would be refused at once
// instead of waiting.
class HeldCatalogue {
public:
    explicit HeldCatalogue(std::string body = "") : body_(std::move(body)), peer_([this](SOCKET s) { Serve(s); }) {}
    ~HeldCatalogue() { Release(); }
    // Lets the peer answer with `body`.
    void Answer(std::string body) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            body_ = std::move(body);
        }
        Release();
    }
    // Lets the peer answer with the body it was made with.
    void Release() { SetEvent(release_.get()); }
    std::wstring Url() const {
        return L"http://127.0.0.1:" + std::to_wstring(peer_.Port()) +
               L"/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates";
    }

private:
    void Serve(SOCKET s) {
        std::string buffer;
        bool closed = false;
        test::ReceiveRequest(s, buffer, closed);
        // Bounded, so a check that never lets the test release it fails instead of hanging.
        if (closed || WaitForSingleObject(release_.get(), 30000) != WAIT_OBJECT_0)
            return;
        std::lock_guard<std::mutex> guard(lock_);
        test::SendAll(s, ResponseWithLength("HTTP/1.1 200 OK", {}, body_));
        shutdown(s, SD_SEND);
        test::ScriptedPeer::ReceiveUntilClose(s);
    }

    unique_handle release_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::mutex lock_;
    std::string body_;
    test::ScriptedPeer peer_;  // last: its thread uses the members above
};

// Closing during a check gives the request up at once: no message about it, the window goes within
// 2 s although the catalogue never answers. Exit, WM_CLOSE and Alt+F4 alike.
TEST_F(CheckWorkflow, ClosingDuringACheckAbandonsItAndTheWindowGoes) {
    enum class Way { Exit, WmClose, AltF4 };
    for (Way way : {Way::Exit, Way::WmClose, Way::AltF4}) {
        SCOPED_TRACE(static_cast<int>(way));
        product.InstallServer(L"5.9.0");
        if (!form) {
            form = std::make_unique<TfrmMain>();
            form->Show();
        }
        HeldCatalogue catalogue("N;5.9.1;D;L;E\n");
        CatalogueAddress = catalogue.Url();
        HWND window = form->Handle();
        ULONGLONG closed = 0;
        test::DuringWait wait({[&] {
            closed = GetTickCount64();
            if (way == Way::Exit)
                form->btnExitClick(form->btnExit);
            else if (way == Way::WmClose)
                PostMessageW(window, WM_CLOSE, 0, 0);
            else {
                SetFocus(form->btnExit->Handle());
                // lParam bit 29: the Alt key is down.
                PostMessageW(form->btnExit->Handle(), WM_SYSKEYDOWN, VK_F4, 1 | (1 << 29));
            }
        }});
        const auto shown = Check();
        EXPECT_TRUE(shown.empty()) << "a message was shown about the abandoned check";
        EXPECT_TRUE(test::PumpUntil([&] { return !IsWindow(window); }, 2000)) << "the window stayed";
        EXPECT_LT(GetTickCount64() - closed, 2000u);
        MSG quit;
        while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        form.reset();
        catalogue.Release();
    }
}

// Peers that keep a check waiting (a catalogue body a byte a second, a catalogue that takes the request
// and never answers): the window answers throughout, and closing it ends the check at once, without a
// message.
TEST_F(CheckWorkflow, TheWindowAnswersWhileTheCatalogueIsSlowOrSilentAndClosingEndsTheCheck) {
    enum class Peer { Trickles, Silent };
    const struct {
        const char* name;
        Peer peer;
    } cases[] = {{"trickling catalogue body", Peer::Trickles}, {"silent catalogue", Peer::Silent}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        product.InstallServer(L"5.9.0");
        if (!form) {
            form = std::make_unique<TfrmMain>();
            form->Show();
        }
        unique_handle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::mutex lock;
        std::string asked;  // the first request the peer read
        test::ScriptedPeer peer([&](SOCKET s) {
            std::string buffer;
            bool closed = false;
            const std::string request = test::ReceiveRequest(s, buffer, closed);
            {
                std::lock_guard<std::mutex> guard(lock);
                asked = request;
            }
            if (c.peer == Peer::Trickles) {
                test::SendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n");
                for (int i = 0; i < 60 && WaitForSingleObject(stop.get(), 1000) == WAIT_TIMEOUT; ++i)
                    test::SendAll(s, "N");
            } else {
                WaitForSingleObject(stop.get(), 60000);
            }
        });
        CatalogueAddress = L"http://127.0.0.1:" + std::to_wstring(peer.Port()) + L"/catalogue";
        HWND window = form->Handle();
        std::unique_ptr<test::ResponsivenessProbe> probe;
        ULONGLONG probeStart = 0, closed = 0;
        DWORD stall = 0;
        unsigned answers = 0;
        test::DuringWait wait({[&] {
                                   probe = std::make_unique<test::ResponsivenessProbe>(window);
                                   probeStart = GetTickCount64();
                               },
                               [&] {
                                   if (closed || GetTickCount64() - probeStart < 3000)
                                       return;
                                   stall = probe->LongestStallMs();
                                   answers = probe->Answers();
                                   probe.reset();
                                   closed = GetTickCount64();
                                   PostMessageW(window, WM_CLOSE, 0, 0);
                               }},
                              true);
        const auto shown = Check();
        std::printf("%s: longest UI stall %lu ms over %u answers\n", c.name, stall, answers);
        ASSERT_NE(closed, 0u) << "the check ended before the window was closed";
        EXPECT_TRUE(shown.empty()) << "a message was shown about the abandoned check";
        EXPECT_TRUE(test::PumpUntil([&] { return !IsWindow(window); }, 2000)) << "the window stayed";
        EXPECT_LT(GetTickCount64() - closed, 2000u);
        EXPECT_LT(stall, 500u);
        EXPECT_GE(answers, 20u);
        {
            std::lock_guard<std::mutex> guard(lock);
            EXPECT_EQ(asked.rfind("POST /catalogue", 0), 0u) << asked;
        }
        MSG quit;
        while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        form.reset();
        SetEvent(stop.get());
    }
}

TEST_F(CheckWorkflow, SelectingARowEnablesInstallForGood) {
    product.InstallServer(L"5.9.0");
    EXPECT_FALSE(form->btnInstall->Enabled());
    {
        auto server = Catalogue("A;6;D;L;E\nB;7;D;L;E\n");
        Check();
    }
    int selects = 0;
    const auto original = form->grdUpdates->OnSelect;
    form->grdUpdates->OnSelect = [&](TObject* sender) {
        ++selects;
        original(sender);
    };
    form->grdUpdates->SetSelectedRow(1);
    EXPECT_EQ(selects, 1);
    EXPECT_TRUE(form->btnInstall->Enabled());
    // A later check that lists nothing removes the rows without a select event; Install stays enabled.
    auto server = Catalogue("");
    ExpectOneMessage(Check(), L"You have the latest Server Update.", TMsgDlgType::Information);
    EXPECT_EQ(selects, 1);
    EXPECT_EQ(form->grdUpdates->SelectedRow(), -1);
    EXPECT_TRUE(form->btnInstall->Enabled());
}

std::vector<std::string> LogLines(const std::wstring& path);

// The whole road against a real server: nginx over HTTPS with gzip, written by the nginx fixture.
TEST_F(CheckWorkflow, ListsTheNewerUpdatesOfALocalHttpsCatalogue) {
    std::map<std::string, int> ports;
    std::ifstream in(MEMOLINE_NGINX_DIR "/ports.txt");
    std::string name;
    int port = 0;
    while (in >> name >> port)
        ports[name] = port;
    ASSERT_NE(ports["https"], 0);
    const std::wstring p = std::to_wstring(ports["https"]);
    CatalogueAddress = L"https://localhost:" + p + L"/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates";
    product.InstallServer(L"5.9.0");
    test::ScratchDir dir(L"check-https-log");
    form->Log.SetPath(dir / L"ServerUpdates.log");
    ExpectOneMessage(Check(), L"There are 2 Server Updates available.", TMsgDlgType::Information);
    // The test CA's certificates name no CRL: accepted, and support can read that revocation went unchecked.
    const std::string unchecked =
        "Catalogue: The certificate of localhost was accepted without a revocation check: "
        "The revocation function was unable to check revocation";
    const auto lines = LogLines(dir / L"ServerUpdates.log");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.rfind(unchecked, 0) == 0; }),
              1)
        << ::testing::PrintToString(lines);
    EXPECT_EQ(Rows(), (std::vector<Row>{
                          {L"Memoline Server 5.9.1", L"5.9.1", L"2026-01-15",
                           L"https://localhost:" + p + L"/setup/MemolineServer591.exe"},
                          {L"Memoline Server 5.10 \"Spring\"", L"5.10.0", L"2026-04-01",
                           L"https://localhost:" + p + L"/setup/MemolineServer5100.exe"},
                      }));
}

// The window given the focus while the hook is set: what Tab did, even if another program takes the
// activation (and with it the focus) afterwards.
HWND g_focused = nullptr;
HHOOK g_focusHook = nullptr;
LRESULT CALLBACK RecordFocus(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_SETFOCUS)
        g_focused = reinterpret_cast<HWND>(wp);
    return CallNextHookEx(g_focusHook, code, wp, lp);
}

bool BusyCursorShown(HWND form) {
    SendMessageW(form, WM_SETCURSOR, reinterpret_cast<WPARAM>(form), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor() == LoadCursorW(nullptr, IDC_APPSTARTING);
}

std::vector<std::string> LogLines(const std::wstring& path) {
    std::vector<std::string> lines;
    const std::string text = test::ReadFileRaw(path);
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        // Date and time come first: "yyyy-mm-dd hh:mm:ss  ".
        lines.push_back(text.substr(at + 21, end - at - 21));
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

// While the catalogue takes its time, the window says what it is doing, the pointer shows it is busy,
// Check and Install are grey, and Tab still moves between the controls.
TEST_F(CheckWorkflow, ShowsWhatItIsDoingWhileItWaitsAndTabStillMoves) {
    product.InstallServer(L"5.9.0");
    test::ScratchDir dir(L"check-log");
    form->Log.SetPath(dir / L"ServerUpdates.log");
    HeldCatalogue catalogue;
    CatalogueAddress = catalogue.Url();
    HWND window = form->Handle();
    std::wstring status, caption;
    bool busy = false, checkEnabled = true, installEnabled = true;
    HWND exitButton = form->btnExit->Handle(), expectedFocus = nullptr, focusAfterTab = nullptr;
    test::DuringWait wait({
        [&] {
            status = form->lblStatus->Caption();
            caption = form->grdUpdates->EmptyCaption();
            busy = BusyCursorShown(window);
            checkEnabled = IsWindowEnabled(form->btnCheck->Handle());
            installEnabled = IsWindowEnabled(form->btnInstall->Handle());
            SetFocus(exitButton);
            expectedFocus = GetNextDlgTabItem(window, exitButton, FALSE);
            g_focused = nullptr;
            g_focusHook = SetWindowsHookExW(WH_CBT, RecordFocus, nullptr, GetCurrentThreadId());
            PostMessageW(exitButton, WM_KEYDOWN, VK_TAB, 0);
        },
        [&] {
            UnhookWindowsHookEx(g_focusHook);
            focusAfterTab = g_focused;
            catalogue.Answer("N;5.9.1;D;L;E\r\nN;5.8;D;L;E\r\n");
        },
    });
    ExpectOneMessage(Check(), L"There is one Server Updates available.", TMsgDlgType::Information);
    ASSERT_EQ(wait.Done(), 2u) << "the check did not wait";
    EXPECT_EQ(status, L"Checking for updates...");
    EXPECT_EQ(caption, L"Checking for updates...");
    EXPECT_TRUE(busy);
    EXPECT_FALSE(checkEnabled);
    EXPECT_FALSE(installEnabled);
    ASSERT_NE(expectedFocus, exitButton);
    EXPECT_EQ(focusAfterTab, expectedFocus) << "Tab did not move the focus during the wait";
    // Afterwards: no status, a plain pointer, Check enabled again.
    EXPECT_EQ(form->lblStatus->Caption(), L"");
    EXPECT_FALSE(BusyCursorShown(window));
    EXPECT_TRUE(IsWindowEnabled(form->btnCheck->Handle()));
    EXPECT_FALSE(IsWindowEnabled(form->btnInstall->Handle()));

    const std::string address = std::string(CatalogueAddress.begin(), CatalogueAddress.end());
    EXPECT_EQ(LogLines(dir / L"ServerUpdates.log"), (std::vector<std::string>{
                                                        "Check: asking " + address + " (installed version 5.9.0)",
                                                        "Catalogue: POST " + address + " START",
                                                        "Catalogue: POST " + address + " OK (resp 28 bytes)",
                                                        "Check succeeded: 2 lines, 1 newer updates",
                                                    }));
}

TEST_F(CheckWorkflow, AFailedCheckIsLoggedWithoutThePassword) {
    product.InstallServer(L"5.9.0");
    test::ScratchDir dir(L"check-log");
    form->Log.SetPath(dir / L"ServerUpdates.log");
    auto server = Catalogue("gone", "HTTP/1.1 404 Not Found");
    Check();
    const std::string address = std::string(CatalogueAddress.begin(), CatalogueAddress.end());
    EXPECT_EQ(LogLines(dir / L"ServerUpdates.log"),
              (std::vector<std::string>{
                  "Check: asking " + address + " (installed version 5.9.0)",
                  "Catalogue: POST " + address + " START",
                  "Catalogue failure: ERROR E6582: POST " + address + " FAILED: HTTP/1.1 404 Not Found",
                  "Catalogue failure: ERROR E6583: The update catalogue request failed",
                  "Check failed: HTTP/1.1 404 Not Found",
              }));
    // The password went out in the request, and nowhere into the log.
    const std::string password(kCataloguePassword, kCataloguePassword + std::wcslen(kCataloguePassword));
    ASSERT_NE(server->Requests()[0][0].find(password), std::string::npos);
    EXPECT_EQ(test::ReadFileRaw(dir / L"ServerUpdates.log").find(password), std::string::npos);
}

}  // namespace
}  // namespace memoline
