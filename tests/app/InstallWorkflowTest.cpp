// The install workflow inside the process: the download engine and the two launchers are set up as
// the window needs them, and the early ends of an install (not the server, answered No, no selection,
// a link without a plain file name, a second press) start nothing.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "app/CommonMethods.h"
#include "app/MainForm.h"
#include "app/SetupSignerConfig.h"
#include "core/ErrorText.h"
#include "tests/support/DuringWait.h"
#include "tests/support/MessageAnswers.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/SignedSetups.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestHttpServer.h"
#include "ui/Application.h"

namespace memoline {
namespace {

using test::PumpUntil;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

class InstallWorkflow : public ::testing::Test {
protected:
    void SetUp() override {
        form_ = std::make_unique<TfrmMain>();
        form_->Show();
        ui::Application().ProcessMessages();  // the start is logged before a test picks its own log
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

// Answers the start as Windows does when the operator declines the consent prompt: the shell's
// generic value in hInstApp, ERROR_CANCELLED as the thread's last error.
class DecliningLauncher : public TProcessLauncher {
public:
    using TProcessLauncher::TProcessLauncher;
    HWND owner = nullptr;  // the record's owner window, as the shell got it

protected:
    BOOL CallShellExecute(SHELLEXECUTEINFOW& info) override {
        owner = info.hwnd;
        info.hInstApp = reinterpret_cast<HINSTANCE>(SE_ERR_ACCESSDENIED);
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
};

// Puts a declining launcher, set up like the form's own, in place of the setup program's launcher.
DecliningLauncher* DeclineTheSetupsPrompt(TfrmMain& form) {
    const TProcessLauncher& own = *form.runInstaller;
    auto* declining = new DecliningLauncher(&form);
    declining->SetAction(own.Action());
    declining->SetTimeout(own.Timeout());
    declining->SetWaitType(own.WaitType());
    declining->SetWaitUntilFinished(own.WaitUntilFinished());
    declining->OnFinished = own.OnFinished;
    declining->OnError = own.OnError;
    form.runInstaller = declining;
    return declining;
}

// The folder the last run downloaded into: new under the temporary directory with an unguessable
// name, and gone once the run has ended. Returns it for further checks.
std::wstring ExpectOwnFolderGone(const TfrmMain& form) {
    if (form.WebDownload->Items().Count() == 0) {
        ADD_FAILURE() << "no download was set up";
        return {};
    }
    const std::wstring folder = form.WebDownload->Items()[0]->TargetDir;
    const std::wstring temp = GetTempDirectory();
    const std::wstring prefix = temp + L"MemolineSetup-";
    EXPECT_EQ(folder.rfind(prefix, 0), 0u) << Narrow(folder);
    const std::wstring name = folder.substr(std::min(folder.size(), prefix.size()));
    EXPECT_EQ(name.size(), 33u) << Narrow(folder);  // 32 hex digits and the backslash
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef"), 32u) << Narrow(folder);
    EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES) << "left behind: " << Narrow(folder);
    return folder;
}

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
        std::wstring message;   // the last message box
        size_t events;          // lines the demo programs recorded
        const wchar_t* label;   // the version the label shows at the end
        bool declined = false;  // the operator declines the setup program's consent prompt
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
        {"a link with a query string", "/a/Setup.exe?token=x%2F..%2Fy&n=1", test::OkReply(setup), true, kInstalled, 3,
         L"5.10.0"},
        {"no data-update program", "/a/Setup.exe", test::OkReply(setup), false,
         L"Unable to start C:\\Memoline5Server\\DataUpdate.exe: " + ErrorText(ERROR_FILE_NOT_FOUND), 2, L"5.10.0"},
        {"consent prompt declined", "/a/Setup.exe", test::OkReply(setup), true,
         L"The installation was cancelled at the Windows security prompt.", 0, L"5.9.0", true},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ProductInstallation install;
        install.InstallServer(L"5.9.0");
        if (c.dataUpdateInstalled)
            install.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
        // A runnable setup program of the same name left in the temporary directory is never started.
        const std::string name = c.path.substr(3, c.path.find('?') - 3);
        const std::wstring stale = GetTempDirectory() + std::wstring(name.begin(), name.end());
        test::WriteFileRaw(stale, setup);
        server.Route(c.path, c.reply);
        form_ = std::make_unique<TfrmMain>();
        form_->WebDownload->ResumePauses = {10, 20, 40};  // the cut transfer is retried without long waits
        form_->Show();
        DecliningLauncher* declining = c.declined ? DeclineTheSetupsPrompt(*form_) : nullptr;
        HWND dialogOwner = nullptr;
        LONG_PTR dialogExStyle = 0;
        form_->WebDownload->OnBeforeDialogShow = [&](TObject*, HWND dialog) {
            dialogOwner = GetWindow(dialog, GW_OWNER);
            dialogExStyle = GetWindowLongPtrW(dialog, GWL_EXSTYLE);
        };
        ListAndSelect(server.Url(c.path));
        test::ScopedMessageAnswers answers({IDYES});
        form_->btnInstallClick(form_->btnInstall);
        ASSERT_TRUE(PumpUntil([&] { return form_->WebDownload->CopyCompleted(); }, 60000)) << "the run did not end";
        // The progress dialog belongs to the window and is not above other programs.
        EXPECT_EQ(dialogOwner, form_->Handle());
        EXPECT_FALSE(dialogExStyle & WS_EX_TOPMOST);
        if (declining) {  // the prompt opens over the updater's window, not as a taskbar button
            EXPECT_EQ(declining->owner, form_->Handle());
        }
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
        const std::wstring folder = ExpectOwnFolderGone(*form_);
        if (!events.empty())
            EXPECT_EQ(events[0], "setup-start version=5.10.0 args=/silent file=" + Narrow(folder) + name);
        EXPECT_EQ(Narrow(form_->lblCurrentVersion->Caption()),
                  "You currently have Version <b>" + Narrow(c.label) + "</b> installed.");
        form_.reset();
        test::RemoveTree(stale);
    }
}

// A signed setup program whose connection dropped twice is resumed to the same bytes, so its
// signature still holds and it is installed.
TEST_F(InstallWorkflow, AResumedSetupProgramPassesItsSignatureCheckAndIsInstalled) {
    const std::string setup = test::SetupBytes(test::SetupVariant::Signed);
    ASSERT_GT(setup.size(), 20000u);
    test::TestHttpServer server;
    std::vector<std::string> heads;
    server.RouteHandler("/r/Setup.exe", [&](const std::string& head) {
        heads.push_back(head);
        const size_t from = heads.size() == 1 ? 0 : heads.size() == 2 ? 7000 : 15000;
        const size_t to = heads.size() == 1 ? 7000 : heads.size() == 2 ? 15000 : setup.size();
        test::CannedReply reply;
        reply.head = from == 0 ? std::string("HTTP/1.1 200 OK\r\n")
                               : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                                     std::to_string(setup.size() - 1) + "/" + std::to_string(setup.size()) + "\r\n";
        reply.head += "ETag: \"signed-1\"\r\nContent-Length: " + std::to_string(setup.size() - from) + "\r\n\r\n";
        reply.body = setup.substr(from, to - from);  // short of the announced length: the connection drops
        reply.close = true;
        return reply;
    });
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    install.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
    form_ = std::make_unique<TfrmMain>();
    form_->WebDownload->ResumePauses = {10, 20, 40};
    form_->Show();
    ListAndSelect(server.Url("/r/Setup.exe"));
    test::ScopedMessageAnswers answers({IDYES});
    form_->btnInstallClick(form_->btnInstall);
    ASSERT_TRUE(PumpUntil([&] { return form_->WebDownload->CopyCompleted(); }, 60000)) << "the run did not end";
    ASSERT_EQ(heads.size(), 3u);
    EXPECT_NE(heads[2].find("Range: bytes=15000-"), std::string::npos) << heads[2];
    ASSERT_EQ(answers.Shown().size(), 2u);
    EXPECT_EQ(Narrow(answers.Shown()[1].text), Narrow(kInstalled));
    EXPECT_EQ(EventLines().size(), 3u);
    EXPECT_EQ(Narrow(form_->lblCurrentVersion->Caption()), "You currently have Version <b>5.10.0</b> installed.");
    form_.reset();
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
        ExpectOwnFolderGone(*form_);  // with the refused file
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
    EXPECT_EQ(events[0],
              "setup-start version=5.10.0 args=/silent file=" + Narrow(ExpectOwnFolderGone(*form_)) + "Setup.exe");
    EXPECT_EQ(Narrow(form_->lblCurrentVersion->Caption()), "You currently have Version <b>5.10.0</b> installed.");
}

// Whatever lies beside the setup program when it is due to start (a DLL it would load first) stops
// the install; the folder goes with everything in it.
TEST_F(InstallWorkflow, AFilePlantedBesideTheSetupProgramStopsTheInstall) {
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    install.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
    test::TestHttpServer server;
    server.Route("/p/Setup.exe", test::OkReply(test::SetupBytes(test::SetupVariant::Signed)));
    for (const wchar_t* planted : {L"version.dll", L"sub\\"}) {
        SCOPED_TRACE(Narrow(planted));
        form_ = std::make_unique<TfrmMain>();
        form_->Show();
        form_->WebDownload->OnCopyDone = [&, done = form_->WebDownload->OnCopyDone](TObject* sender) {
            const std::wstring path = form_->WebDownload->Items()[0]->TargetDir + planted;
            if (path.back() == L'\\')
                ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
            else
                test::WriteFileRaw(path, "MZ");
            done(sender);
        };
        ListAndSelect(server.Url("/p/Setup.exe"));
        test::ScopedMessageAnswers answers({IDYES});
        form_->btnInstallClick(form_->btnInstall);
        ASSERT_TRUE(PumpUntil([&] { return form_->WebDownload->CopyCompleted(); }, 60000));
        ASSERT_EQ(answers.Shown().size(), 2u);
        EXPECT_EQ(Narrow(answers.Shown()[1].text),
                  "The Server Update was not started: the folder of its setup program holds other files.");
        EXPECT_TRUE(EventLines().empty()) << "a setup or data-update program ran";
        ExpectOwnFolderGone(*form_);
        form_.reset();
    }
}

// Presses during the download (the window stays usable then) start nothing, and a close asked for
// then cancels the download as Cancel does (no message, the partial file gone) and the window goes.
// Exit, WM_CLOSE and Alt+F4 alike.
TEST_F(InstallWorkflow, PressesDuringTheDownloadStartNothingAndACloseCancelsIt) {
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    install.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
    test::TestHttpServer server;
    server.Route("/b/Setup.exe", test::OkReply(test::SetupBytes(test::SetupVariant::Signed)));
    enum class Way { Exit, WmClose, AltF4 };
    for (Way way : {Way::Exit, Way::WmClose, Way::AltF4}) {
        SCOPED_TRACE(static_cast<int>(way));
        if (!form_) {
            form_ = std::make_unique<TfrmMain>();
            form_->Show();
            ui::Application().ProcessMessages();
        }
        test::RemoveTree(GetTempDirectory() + L"Setup.exe");
        ListAndSelect(server.Url("/b/Setup.exe"));
        HWND window = form_->Handle();
        // The engine's start-of-file event comes in the middle of the run: press and close from there.
        int presses = 0;
        form_->WebDownload->OnFileStart = [&](TObject*, int) {
            ++presses;
            form_->btnInstallClick(form_->btnInstall);
            form_->btnCheckClick(form_->btnCheck);
            if (way == Way::Exit) {
                form_->btnExitClick(form_->btnExit);
            } else if (way == Way::WmClose) {
                PostMessageW(window, WM_CLOSE, 0, 0);
            } else {
                SetFocus(form_->btnExit->Handle());
                // lParam bit 29: the Alt key is down.
                PostMessageW(form_->btnExit->Handle(), WM_SYSKEYDOWN, VK_F4, 1 | (1 << 29));
            }
        };
        test::ScopedMessageAnswers answers({IDYES, IDYES});
        form_->btnInstallClick(form_->btnInstall);
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }, 2000)) << "the window stayed";
        EXPECT_EQ(presses, 1) << "a second download was started";
        EXPECT_EQ(answers.Shown().size(), 1u) << "more than the confirmation was shown";
        EXPECT_TRUE(EventLines().empty()) << "a setup program ran";
        EXPECT_EQ(GetFileAttributesW((GetTempDirectory() + L"Setup.exe").c_str()), INVALID_FILE_ATTRIBUTES);
        ExpectOwnFolderGone(*form_);  // with the partial file in it
        MSG quit;
        while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        form_.reset();
    }
}

std::vector<std::string> LogLines(const std::wstring& path) {
    std::vector<std::string> lines;
    const std::string text = test::ReadFileRaw(path);
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at + 21, end - at - 21));  // after "yyyy-mm-dd hh:mm:ss  "
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

void ExpectLinesBeginWith(const std::vector<std::string>& lines, const std::vector<std::string>& beginnings) {
    ASSERT_EQ(lines.size(), beginnings.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind(beginnings[i], 0), 0u) << lines[i] << "\n  should begin with\n" << beginnings[i];
}

bool InstallMarkExists() {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kInstallMutexName);
    if (mutex)
        CloseHandle(mutex);
    return mutex != nullptr;
}

// A slow download, a slow setup program and a slow data update: the window says which is running
// with Check and Install grey and the install mark held; afterwards the list holds only what is newer
// than the version now installed, and the support log tells the whole story.
TEST_F(InstallWorkflow, ShowsEachStepListsWhatIsLeftAndLogsTheRoad) {
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    install.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
    // The shell tries .com and .bat before .exe for a name without extension: these must never run.
    test::WriteFileRaw(L"C:\\Memoline5Server\\DataUpdate.bat",
                       "@echo bat-ran>>C:\\Memoline5Server\\demo-events.log\r\n");
    test::WriteFileRaw(L"C:\\Memoline5Server\\DataUpdate.com", std::string("\xC3", 1));  // a lone "ret"
    SetEnvironmentVariableW(L"MEMOLINE_DEMO_DATAUPDATE_SLEEP_MS", L"1000");
    test::ScratchDir dir(L"install-log");
    form_->Log.SetPath(dir / L"ServerUpdates.log");
    test::TestHttpServer server;
    test::CannedReply slow = test::OkReply(test::SetupBytes(test::SetupVariant::Signed));
    slow.pieceSize = slow.body.size() / 8 + 1;
    slow.pieceDelayMs = 100;
    server.Route("/r/Setup-sleep1000.exe", slow);
    const std::wstring link = server.Url("/r/Setup-sleep1000.exe");
    ui::TListGrid& grid = *form_->grdUpdates;
    grid.AddRow({L"Server Update 5.9.3", L"5.9.3", L"2026-09-21", link});
    grid.AddRow({L"Server Update 5.10.0", L"5.10.0", L"2026-11-28", L"http://127.0.0.1:1/b.exe"});
    grid.AddRow({L"Server Update 5.11.0", L"5.11.0", L"2026-12-01", L"http://127.0.0.1:1/c.exe"});
    grid.SetSelectedRow(0);
    ASSERT_TRUE(form_->btnInstall->Enabled());

    std::vector<std::wstring> statuses;
    bool buttonsEnabled = false, markMissing = false;
    test::DuringWait observer({[&] {
                                  const std::wstring status = form_->lblStatus->Caption();
                                  if (statuses.empty() || statuses.back() != status)
                                      statuses.push_back(status);
                                  if (!status.empty()) {
                                      buttonsEnabled |= IsWindowEnabled(form_->btnCheck->Handle()) ||
                                                        IsWindowEnabled(form_->btnInstall->Handle());
                                      markMissing |= !InstallMarkExists();
                                  }
                              }},
                              true);
    test::ScopedMessageAnswers answers({IDYES});
    form_->btnInstallClick(form_->btnInstall);
    ASSERT_TRUE(PumpUntil([&] { return form_->WebDownload->CopyCompleted(); }, 60000));
    SetEnvironmentVariableW(L"MEMOLINE_DEMO_DATAUPDATE_SLEEP_MS", nullptr);
    ASSERT_EQ(answers.Shown().size(), 2u);
    EXPECT_EQ(Narrow(answers.Shown()[1].text), Narrow(kInstalled));

    std::vector<std::wstring> steps;
    for (const auto& s : statuses)
        if (!s.empty())
            steps.push_back(s);
    EXPECT_EQ(steps, (std::vector<std::wstring>{L"Downloading Server Update 5.9.3 ...",
                                                L"Installing Server Update 5.9.3 ...", L"Updating the data ..."}));
    EXPECT_FALSE(buttonsEnabled) << "Check or Install was enabled during the install";
    EXPECT_FALSE(markMissing) << "the install mark was not held";
    EXPECT_FALSE(InstallMarkExists()) << "the install mark outlived the install";
    EXPECT_EQ(form_->lblStatus->Caption(), L"");
    EXPECT_TRUE(IsWindowEnabled(form_->btnCheck->Handle()));

    // 5.10.0 is installed now: only 5.11.0 is newer; nothing is selected and Install waits for a choice.
    ASSERT_EQ(grid.RowCount(), 1);
    EXPECT_EQ(Narrow(grid.Cell(0, form_->colBuild)), "5.11.0");
    EXPECT_EQ(grid.SelectedRow(), -1);
    EXPECT_FALSE(IsWindowEnabled(form_->btnInstall->Handle()));

    EXPECT_EQ(Narrow(form_->runDataUpdate->FileName()), "C:\\Memoline5Server\\DataUpdate.exe");
    for (const std::string& event : EventLines())
        EXPECT_EQ(event.find("bat-ran"), std::string::npos) << "DataUpdate.bat ran";
    const std::string setupPath = Narrow(ExpectOwnFolderGone(*form_)) + "Setup-sleep1000.exe";
    ExpectLinesBeginWith(LogLines(dir / L"ServerUpdates.log"),
                         {
                             "Download: " + Narrow(link) + " to " + setupPath,
                             "Download completed: " + std::to_string(slow.body.size()) + " bytes in ",
                             *kSetupSigner ? "Verification passed" : "Verification: not checked",
                             "Starting " + setupPath + " /silent",
                             setupPath + " ended with exit code 0",
                             "Starting C:\\Memoline5Server\\DataUpdate.exe",
                             "C:\\Memoline5Server\\DataUpdate.exe ended with exit code 0",
                             "Installed Server Update 5.9.3; installed version now 5.10.0",
                         });
}

TEST_F(InstallWorkflow, WhenNothingNewerIsLeftTheGridSaysSo) {
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    install.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
    test::TestHttpServer server;
    server.Route("/n/Setup.exe", test::OkReply(test::SetupBytes(test::SetupVariant::Signed)));
    ListAndSelect(server.Url("/n/Setup.exe"));
    test::ScopedMessageAnswers answers({IDYES});
    form_->btnInstallClick(form_->btnInstall);
    ASSERT_TRUE(PumpUntil([&] { return form_->WebDownload->CopyCompleted(); }, 60000));
    ASSERT_EQ(answers.Shown().size(), 2u);
    EXPECT_EQ(Narrow(answers.Shown()[1].text), Narrow(kInstalled));
    EXPECT_EQ(form_->grdUpdates->RowCount(), 0);
    EXPECT_EQ(Narrow(form_->grdUpdates->EmptyCaption()), "There are no newer versions available.");
    EXPECT_FALSE(IsWindowEnabled(form_->btnInstall->Handle()));
}

TEST_F(InstallWorkflow, AFailedDownloadIsLoggedAndTheListStays) {
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    test::ScratchDir dir(L"install-log");
    form_->Log.SetPath(dir / L"ServerUpdates.log");
    test::TestHttpServer server;
    server.Route("/f/Gone.exe", test::StatusReply(404, "Not Found"));
    const std::wstring link = server.Url("/f/Gone.exe");
    ListAndSelect(link);
    test::ScopedMessageAnswers answers({IDYES});
    form_->btnInstallClick(form_->btnInstall);
    ASSERT_TRUE(PumpUntil([&] { return form_->WebDownload->CopyCompleted(); }, 60000));
    ExpectLinesBeginWith(LogLines(dir / L"ServerUpdates.log"),
                         {
                             "Download: " + Narrow(link) + " to " + Narrow(ExpectOwnFolderGone(*form_)) + "Gone.exe",
                             "Download failed: Returned http error code 404: 0 bytes in ",
                         });
    EXPECT_EQ(form_->grdUpdates->RowCount(), 1);
    EXPECT_TRUE(IsWindowEnabled(form_->btnInstall->Handle())) << "Install stays available after a failure";
    EXPECT_FALSE(InstallMarkExists());
}

// An install from another logon session holds the machine-wide mark: this one says so and does nothing.
TEST_F(InstallWorkflow, ASecondInstallOnTheComputerIsRefused) {
    test::ProductInstallation install;
    install.InstallServer(L"5.9.0");
    ListAndSelect(L"http://127.0.0.1:1/Setup.exe");
    form_->WebDownload->Items().Clear();
    HANDLE other = CreateMutexW(nullptr, FALSE, kInstallMutexName);
    ASSERT_TRUE(other);
    {
        test::ScopedMessageAnswers answers({IDYES});
        form_->btnInstallClick(form_->btnInstall);
        ASSERT_EQ(answers.Shown().size(), 1u);
        EXPECT_EQ(Narrow(answers.Shown()[0].text), "Another Server Update is being installed on this computer.");
        EXPECT_EQ(form_->WebDownload->Items().Count(), 0) << "a download was set up";
    }
    CloseHandle(other);
    // With the other install ended, the question comes again.
    test::ScopedMessageAnswers answers({IDNO});
    form_->btnInstallClick(form_->btnInstall);
    ASSERT_EQ(answers.Shown().size(), 1u);
    EXPECT_EQ(Narrow(answers.Shown()[0].text), Narrow(kConfirm));
    EXPECT_FALSE(InstallMarkExists()) << "a declined install kept the mark";
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
