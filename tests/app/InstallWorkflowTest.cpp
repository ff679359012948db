// The install workflow inside the process: the download engine and the two launchers are set up as
// the window needs them, and the early ends of an install (not the server, answered No, no selection,
// a link without a plain file name, a second press) start nothing.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "app/CommonMethods.h"
#include "app/MainForm.h"
#include "app/SetupSignerConfig.h"
#include "tests/download/TestHttpServer.h"
#include "tests/support/MessageAnswers.h"
#include "tests/support/SignedSetups.h"
#include "tests/support/TestFiles.h"

namespace memoline {
namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

class InstallWorkflow : public ::testing::Test {
protected:
    void SetUp() override {
        form_ = std::make_unique<TfrmMain>();
        form_->Show();
    }
    void TearDown() override { form_.reset(); }

    // One listed update whose link is `link`, selected.
    void ListAndSelect(const std::wstring& link) {
        form_->grdUpdates->ClearRows();
        form_->grdUpdates->AddRow({L"Update", L"5.10.0", L"2026-11-28", link});
        form_->grdUpdates->SetSelectedRow(0);
    }

    std::unique_ptr<TfrmMain> form_;
};

TEST_F(InstallWorkflow, TheDownloadEngineAndTheLaunchersAreSetUpForTheInstall) {
    const TWebDownloader& w = *form_->WebDownload;
    EXPECT_EQ(Narrow(w.Agent), "WebDownload");
    EXPECT_TRUE(w.HTTPKeepAliveAuthentication);
    EXPECT_TRUE(w.AutoURLDecode);
    EXPECT_EQ(w.Timeout, 0);
    EXPECT_FALSE(w.ShowFileName);
    EXPECT_FALSE(w.ShowServer);
    EXPECT_TRUE(w.ShowTime);
    EXPECT_TRUE(w.ShowElapsedTime);
    EXPECT_TRUE(w.ShowCompletion);
    EXPECT_TRUE(w.ShowDialog);
    EXPECT_TRUE(w.DlgShowCancel);
    EXPECT_FALSE(w.CreateUniqueFilenames);  // an existing file of the same name is overwritten
    const std::pair<const std::wstring*, const char*> texts[] = {
        {&w.DlgCancel, "Cancel"},
        {&w.DlgCompleted, "completed"},
        {&w.DlgFileOfLabel, "of"},
        {&w.DlgProgressLabel, "Progress :"},
        {&w.DlgRateLabel, "Transfer rate :"},
        {&w.DlgTimeLabel, "Estimated time left :"},
        {&w.DlgElapsedTimeLabel, "Elapsed time :"},
        {&w.DlgTimeSec, "sec"},
        {&w.DlgTimeMin, "minutes"},
    };
    for (const auto& [text, expected] : texts)
        EXPECT_EQ(Narrow(*text), expected);
    EXPECT_TRUE(w.OnConnectError && w.OnURLNotFound && w.OnCopyCancel && w.OnCopyDone);

    for (const TProcessLauncher* launcher : {form_->runInstaller, form_->runDataUpdate}) {
        EXPECT_EQ(Narrow(launcher->Action()), "Open");
        EXPECT_EQ(launcher->Timeout(), -1);
        EXPECT_EQ(launcher->WaitType(), TProcessWaitType::wtProcessMessages);
        EXPECT_TRUE(launcher->WaitUntilFinished());
        EXPECT_EQ(launcher->ShowMode(), TShowMode::smNormal);
        EXPECT_TRUE(launcher->StartDir().empty());
        EXPECT_TRUE(launcher->OnFinished);
        EXPECT_TRUE(launcher->OnError);
    }
}

TEST_F(InstallWorkflow, EarlyEndsShowTheirMessageAndStartNoDownload) {
    struct Case {
        const char* name;
        bool server;
        const wchar_t* link;  // null: no row selected
        std::deque<int> answers;
        std::vector<std::wstring> messages;
    } cases[] = {
        {"client PC",
         false,
         L"http://127.0.0.1:1/Setup.exe",
         {},
         {L"Server Updates can only be installed on your Server or Host PC."}},
        {"answered No",
         true,
         L"http://127.0.0.1:1/Setup.exe",
         {IDNO},
         {L"Are you sure you want to install this Server Update?"}},
        {"no selection", true, nullptr, {}, {L"Please select a Server Update to install."}},
        {"link ends in /",
         true,
         L"http://127.0.0.1:1/files/",
         {IDYES},
         {L"Are you sure you want to install this Server Update?",
          L"The download address of this Server Update is not valid."}},
        {"link with ..",
         true,
         L"http://127.0.0.1:1/files/..",
         {IDYES},
         {L"Are you sure you want to install this Server Update?",
          L"The download address of this Server Update is not valid."}},
        {"link with \\",
         true,
         L"http://127.0.0.1:1/files/a\\b.exe",
         {IDYES},
         {L"Are you sure you want to install this Server Update?",
          L"The download address of this Server Update is not valid."}},
        {"link naming a device",
         true,
         L"http://127.0.0.1:1/files/nul.exe",
         {IDYES},
         {L"Are you sure you want to install this Server Update?",
          L"The download address of this Server Update is not valid."}},
        {"link naming a port",
         true,
         L"http://127.0.0.1:1/files/COM1",
         {IDYES},
         {L"Are you sure you want to install this Server Update?",
          L"The download address of this Server Update is not valid."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ProductInstallation install;
        if (c.server)
            install.InstallServer(L"5.9.0");
        else
            install.InstallClient(L"5.9.0");
        if (c.link)
            ListAndSelect(c.link);
        else
            form_->grdUpdates->ClearRows();
        form_->WebDownload->Items().Clear();
        test::ScopedMessageAnswers answers(c.answers);
        form_->btnInstallClick(form_->btnInstall);
        ASSERT_EQ(answers.Shown().size(), c.messages.size());
        for (size_t i = 0; i < c.messages.size(); ++i)
            EXPECT_EQ(Narrow(answers.Shown()[i].text), Narrow(c.messages[i]));
        EXPECT_EQ(form_->WebDownload->Items().Count(), 0) << "a download was set up";
    }
}

// Processes the UI thread's messages (the download runs on them) until `done` or the time-out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() > end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

std::vector<std::string> EventLines() {
    std::string text = test::ReadFileRaw(L"C:\\Memoline5Server\\demo-events.log");
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

const wchar_t* const kConfirm = L"Are you sure you want to install this Server Update?";
const wchar_t* const kInstalled = L"Server Update has been installed.";

// The chain after the download, against a loopback server and the demo's setup and data-update
// programs, which record what ran.
TEST_F(InstallWorkflow, TheChainInstallsOnlyAfterACompleteDownloadAndASucceedingSetup) {
    const std::string setup = test::SetupBytes(test::SetupVariant::Signed);
    test::TestHttpServer server;
    struct Case {
        const char* name;
        std::string path;  // on the server; its last segment names the setup program and steers it
        test::CannedReply reply;
        bool dataUpdateInstalled;
        std::wstring message;  // the last message box
        size_t events;         // lines the demo programs recorded
        const wchar_t* label;  // the version the label shows at the end
    } cases[] = {
        {"installed", "/a/Setup.exe", test::OkReply(setup), true, kInstalled, 3, L"5.10.0"},
        {"restart initiated counts as installed", "/a/Setup-exit1641.exe", test::OkReply(setup), true, kInstalled, 3,
         L"5.10.0"},
        {"setup failed", "/a/Setup-exit2.exe", test::OkReply(setup), true,
         L"The Server Update could not be installed (setup exit code 2).", 2, L"5.10.0"},
        {"404 with a stale setup program in place", "/a/Stale.exe", test::StatusReply(404, "Not Found"), true,
         L"The Server Update could not be downloaded.\n\nReturned http error code 404", 0, L"5.9.0"},
        {"incomplete transfer", "/a/Cut.exe", test::TruncatedReply(setup.size(), setup.substr(0, 10000)), true, L"", 0,
         L"5.9.0"},
        {"empty answer", "/a/Empty.exe", test::OkReply(""), true,
         L"The Server Update could not be downloaded.\n\nThe download ended without data.", 0, L"5.9.0"},
        {"no data-update program", "/a/Setup.exe", test::OkReply(setup), false,
         L"Unable to start C:\\Memoline5Server\\DataUpdate: File was not found", 2, L"5.10.0"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ProductInstallation install;
        install.InstallServer(L"5.9.0");
        if (c.dataUpdateInstalled)
            install.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
        const std::wstring target = GetTempDirectory() + std::wstring(c.path.begin() + 3, c.path.end());
        test::RemoveTree(target);
        if (c.path == "/a/Stale.exe")  // a runnable setup program left by an earlier install
            test::WriteFileRaw(target, setup);
        server.Route(c.path, c.reply);
        form_ = std::make_unique<TfrmMain>();
        form_->Show();
        ListAndSelect(server.Url(c.path));
        test::ScopedMessageAnswers answers({IDYES});
        form_->btnInstallClick(form_->btnInstall);
        ASSERT_TRUE(PumpUntil([&] { return form_->WebDownload->CopyCompleted(); }, 60000)) << "the run did not end";
        ASSERT_EQ(answers.Shown().size(), 2u);
        EXPECT_EQ(Narrow(answers.Shown()[0].text), Narrow(kConfirm));
        if (std::string(c.name) == "incomplete transfer")
            EXPECT_EQ(Narrow(answers.Shown()[1].text)
                          .rfind("The Server Update could not be downloaded.\n\nDownload incomplete", 0),
                      0u)
                << Narrow(answers.Shown()[1].text);
        else
            EXPECT_EQ(Narrow(answers.Shown()[1].text), Narrow(c.message));
        const std::vector<std::string> events = EventLines();
        EXPECT_EQ(events.size(), c.events);
        if (!events.empty())
            EXPECT_EQ(events[0], "setup-start version=5.10.0 args=/silent file=" + Narrow(target));
        EXPECT_EQ(Narrow(form_->lblCurrentVersion->Caption()),
                  "You currently have Version <b>" + Narrow(c.label) + "</b> installed.");
        form_.reset();
    }
}

// Only a setup program signed by the publisher the updater was built for, through a root this
// machine trusts, is started. Each refusal names its cause, deletes the file, runs nothing and
// leaves the label; Install then works again and a good update installs.
TEST_F(InstallWorkflow, OnlyASetupProgramSignedByThePublisherIsStarted) {
    if (*kSetupSigner == L'\0')
        GTEST_SKIP() << "this build has the signature check turned off";
    using test::SetupVariant;
    const std::string kRefused = "The Server Update could not be verified.\n\n";
    struct Case {
        const char* name;
        test::CannedReply reply;
        std::string message;  // the refusal; for the untrusted CA only its start
    } cases[] = {
        {"unsigned", test::OkReply(test::SetupBytes(SetupVariant::Unsigned)),
         kRefused + "The setup program is not signed."},
        {"a byte changed after signing", test::OkReply(test::SetupBytes(SetupVariant::ChangedAfterSigning)),
         kRefused + "The setup program has been changed since it was signed."},
        {"another publisher", test::OkReply(test::SetupBytes(SetupVariant::OtherPublisher)),
         kRefused + "The setup program is signed by another publisher: Another Publisher."},
        {"a CA that is not trusted", test::OkReply(test::SetupBytes(SetupVariant::UntrustedCa)),
         kRefused + "The signing certificate is not trusted: "},
        // The engine cannot tell this from a complete transfer: no length was announced and the
        // system reports the broken-off chunk stream as its end.
        {"cut short in a chunked transfer", test::ChunkedCutReply(test::SetupBytes(SetupVariant::CutShort)),
         kRefused + "The setup program is not signed."},
    };
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    install.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
    form_ = std::make_unique<TfrmMain>();  // shows the installed version
    form_->Show();
    test::TestHttpServer server;
    const std::wstring target = GetTempDirectory() + L"Setup.exe";
    // The runs follow one another on this one window: count their ends.
    int runsEnded = 0;
    form_->WebDownload->OnCopyDone = [&runsEnded, done = form_->WebDownload->OnCopyDone](TObject* sender) {
        done(sender);
        ++runsEnded;
    };
    auto installAndWait = [&] {
        const int before = runsEnded;
        form_->btnInstallClick(form_->btnInstall);
        return PumpUntil([&] { return runsEnded > before; }, 60000);
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.Route("/c/Setup.exe", c.reply);
        ListAndSelect(server.Url("/c/Setup.exe"));
        test::ScopedMessageAnswers answers({IDYES});
        ASSERT_TRUE(installAndWait()) << "the run did not end";
        ASSERT_TRUE(form_->WebDownload->Items()[0]->Success()) << "the download itself failed";
        ASSERT_EQ(answers.Shown().size(), 2u);
        const std::string shown = Narrow(answers.Shown()[1].text);
        EXPECT_EQ(shown.substr(0, c.message.size()), c.message);
        if (std::string(c.name) == "a CA that is not trusted") {
            EXPECT_GT(shown.size(), c.message.size() + 10) << "the system's text is missing: " << shown;
        } else {
            EXPECT_EQ(shown, c.message);
        }
        EXPECT_EQ(answers.Shown()[1].type, ui::TMsgDlgType::Error);
        EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES) << "the refused file was kept";
        EXPECT_TRUE(EventLines().empty()) << "a setup or data-update program ran";
        EXPECT_EQ(Narrow(form_->lblCurrentVersion->Caption()), "You currently have Version <b>5.9.0</b> installed.");
    }
    // Install works again, and a signed setup program is installed.
    server.Route("/c/Setup.exe", test::OkReply(test::SetupBytes(SetupVariant::Signed)));
    test::ScopedMessageAnswers answers({IDYES});
    ASSERT_TRUE(installAndWait());
    ASSERT_EQ(answers.Shown().size(), 2u);
    EXPECT_EQ(Narrow(answers.Shown()[1].text), Narrow(kInstalled));
    const std::vector<std::string> events = EventLines();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], "setup-start version=5.10.0 args=/silent file=" + Narrow(target));
    EXPECT_EQ(Narrow(form_->lblCurrentVersion->Caption()), "You currently have Version <b>5.10.0</b> installed.");
}

// Presses during the download (the window stays usable then) start nothing, and a close asked for
// then is carried out once the install has ended.
TEST_F(InstallWorkflow, PressesAndCloseDuringTheDownloadWaitForTheEndOfTheInstall) {
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    install.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
    test::RemoveTree(GetTempDirectory() + L"Setup.exe");
    test::TestHttpServer server;
    server.Route("/b/Setup.exe", test::OkReply(test::SetupBytes(test::SetupVariant::Signed)));
    ListAndSelect(server.Url("/b/Setup.exe"));
    HWND window = form_->Handle();
    // The engine's start-of-file event comes in the middle of the run: press and close from there.
    int presses = 0;
    form_->WebDownload->OnFileStart = [&](TObject*, int) {
        ++presses;
        form_->btnInstallClick(form_->btnInstall);
        form_->btnCheckClick(form_->btnCheck);
        PostMessageW(window, WM_CLOSE, 0, 0);
    };
    test::ScopedMessageAnswers answers({IDYES, IDYES});
    form_->btnInstallClick(form_->btnInstall);
    ASSERT_TRUE(PumpUntil([&] { return form_->WebDownload->CopyCompleted(); }, 60000));
    EXPECT_EQ(presses, 1) << "a second download was started";
    ASSERT_EQ(answers.Shown().size(), 2u);
    EXPECT_EQ(Narrow(answers.Shown()[1].text), Narrow(kInstalled));
    EXPECT_EQ(EventLines().size(), 3u);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }, 10000)) << "the held close was not carried out";
}

// A handler of the install that fails in the middle of the download: the run still ends, the error
// is shown, and the workflow is over, so Install asks again.
TEST_F(InstallWorkflow, AFailingHandlerDuringTheDownloadIsShownAndEndsTheWorkflow) {
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    test::TestHttpServer server;
    server.Route("/c/Setup.exe", test::OkReply(std::string(20000, 'x')));
    ListAndSelect(server.Url("/c/Setup.exe"));
    form_->WebDownload->OnFileStart = [](TObject*, int) { throw std::runtime_error("the handler failed"); };
    {
        test::ScopedMessageAnswers answers({IDYES});
        form_->btnInstallClick(form_->btnInstall);
        ASSERT_TRUE(PumpUntil([&] { return form_->WebDownload->CopyCompleted(); }, 60000)) << "the run did not end";
        ASSERT_FALSE(answers.Shown().empty());
        EXPECT_EQ(Narrow(answers.Shown().back().text), "the handler failed");
        EXPECT_EQ(answers.Shown().back().type, ui::TMsgDlgType::Error);
    }
    form_->WebDownload->OnFileStart = nullptr;
    test::ScopedMessageAnswers again({IDNO});
    form_->btnInstallClick(form_->btnInstall);
    ASSERT_EQ(again.Shown().size(), 1u) << "the install was still counted as running";
    EXPECT_EQ(Narrow(again.Shown()[0].text), Narrow(kConfirm));
}

}  // namespace
}  // namespace memoline
