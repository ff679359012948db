// The real updater program, end to end: a driver in this process starts it, presses its buttons,
// reads its grid and answers its message boxes, against a local HTTPS catalogue and a local download
// server (started by the CTest fixture), and checks the installation, the downloaded files and what
// the demo's setup and data-update programs recorded.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/CommonMethods.h"
#include "core/ErrorText.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/support/ResponsivenessProbe.h"
#include "tests/support/SignedSetups.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VersionResource.h"

using namespace memoline;
using namespace memoline::e2e;
namespace test = memoline::test;

namespace {

constexpr int kColVersion = 0, kColLink = 3;

const std::wstring kServerDir = L"C:\\Memoline5Server\\";
const std::wstring kEventsLog = L"C:\\Memoline5Server\\demo-events.log";

// The operator's texts, as the updater shows them.
const std::wstring kInstalled = L"Server Update has been installed.";
const std::wstring kConfirm = L"Are you sure you want to install this Server Update?";
const std::wstring kNotServer = L"Server Updates can only be installed on your Server or Host PC.";
const std::wstring kCancelled = L"Download of setup program cancelled.";
const std::wstring kUnreachable =
    L"Unable to connect to web server!  Please make sure you are connected to the Internet before trying again.";
const std::wstring kNotDownloaded = L"The Server Update could not be downloaded.";
const std::wstring kBadLink = L"The download address of this Server Update is not valid.";
const std::wstring kNoSelection = L"Please select a Server Update to install.";
const std::wstring kAvailable = L"There are 15 Server Updates available.";
const std::wstring kNotVerified = L"The Server Update could not be verified.\n\n";

// A folder of the build tree as Wine sees it (drive Z: is the root of the host's file system).
std::wstring HostPath(const char* unixPath) {
    std::wstring path = L"Z:" + Widen(unixPath);
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    if (path.back() != L'\\')
        path += L'\\';
    return path;
}

const std::wstring kServeDir = HostPath(MEMOLINE_E2E_SERVE_DIR);  // ports, request log, files/

std::map<std::string, std::string> ReadPorts() {
    std::map<std::string, std::string> values;
    std::string text = test::ReadFileRaw(kServeDir + L"ports");
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// The updater exactly as built, but asking the local catalogue: the catalogue address compiled into
// it is overwritten in a copy (the local address is shorter; the rest of the literal becomes NULs).
std::wstring LocalUpdaterCopy() {
    const std::string product = test::ReadFileRaw(test::BinDir() + L"MemolineServerUpdates.exe");
    auto utf16 = [](const std::string& text) {
        std::string bytes;
        for (char c : text) {
            bytes += c;
            bytes += '\0';
        }
        return bytes;
    };
    const std::string from = utf16(MEMOLINE_E2E_PRODUCT_CATALOGUE_URL);
    const std::string to = utf16(ReadPorts().at("catalogue_url"));
    size_t at = product.find(from);
    if (at == std::string::npos || product.find(from, at + 1) != std::string::npos || to.size() > from.size())
        throw DriverError(L"the catalogue address is not in the updater program exactly once");
    std::string patched = product;
    patched.replace(at, from.size(), to + std::string(from.size() - to.size(), '\0'));
    const std::wstring path = kServeDir + L"MemolineServerUpdates.exe";
    test::WriteFileRaw(path, patched);
    return path;
}

// Lines of a text file that were added since `from` bytes.
std::vector<std::string> LinesSince(const std::wstring& path, size_t from) {
    std::string text = test::ReadFileRaw(path);
    std::vector<std::string> lines;
    for (size_t at = std::min(from, text.size()); at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// The setup programs' own folders under the temporary directory (each install makes one).
std::vector<std::wstring> SetupFolders() {
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((GetTempDirectory() + L"MemolineSetup-*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return folders;
    do {
        folders.push_back(GetTempDirectory() + data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return folders;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

class InstallE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        updaterExe_ = new std::wstring(LocalUpdaterCopy());
        // The setup programs the catalogue links to: all install version 5.10.0; their names steer
        // them. The good ones are signed by the publisher the updater expects.
        test::CreateDirectories(kServeDir + L"files");
        const std::pair<const wchar_t*, test::SetupVariant> files[] = {
            {L"Memoline5ServerSetup.exe", test::SetupVariant::Signed},
            {L"SlowSetup.exe", test::SetupVariant::Signed},
            {L"HeldSetup.exe", test::SetupVariant::Signed},  // served half, then held, at /held/
            {L"Setup-exit2.exe", test::SetupVariant::Signed},
            {L"Setup-exit3010.exe", test::SetupVariant::Signed},
            {L"Setup-sleep3000.exe", test::SetupVariant::Signed},
            {L"CutShort.exe", test::SetupVariant::Signed},  // served cut short at /cut/
            {L"Unsigned.exe", test::SetupVariant::Unsigned},
            {L"Changed.exe", test::SetupVariant::ChangedAfterSigning},
            {L"OtherPublisher.exe", test::SetupVariant::OtherPublisher},
            {L"UntrustedCa.exe", test::SetupVariant::UntrustedCa},
        };
        for (const auto& [name, variant] : files)
            test::WriteFileRaw(kServeDir + L"files\\" + name, test::SetupBytes(variant));
    }
    static void TearDownTestSuite() {
        delete updaterExe_;
        updaterExe_ = nullptr;
    }

    void SetUp() override {
        install_.InstallServer(L"5.9.0");
        install_.InstallDataUpdate(test::BinDir() + L"demo_dataupdate.exe");
        for (const wchar_t* name : {L"Memoline5ServerSetup.exe", L"SlowSetup.exe", L"HeldSetup.exe", L"Missing.exe",
                                    L"Setup-exit2.exe", L"Setup-exit3010.exe", L"Setup-sleep3000.exe", L"Unsigned.exe",
                                    L"Changed.exe", L"OtherPublisher.exe", L"UntrustedCa.exe", L"CutShort.exe"})
            test::RemoveTree(GetTempDirectory() + name);
        for (const std::wstring& folder : SetupFolders())
            test::RemoveTree(folder);
        requestsAtStart_ = test::ReadFileRaw(kServeDir + L"requests.log").size();
    }

    void TearDown() override {
        if (updater_ && updater_->Running()) {
            // Leave no box or dialog open for the next test: close what is up, then end it.
            updater_->Kill();
        }
        updater_.reset();
    }

    void Start() {
        updater_ = std::make_unique<UpdaterProcess>(*updaterExe_);
        updater_->WaitForMainWindow(60s);
    }

    // Presses a button of the main window.
    void Press(const std::wstring& caption) { Click(updater_->ButtonOf(caption)); }

    // The next message box: it must have this caption and text; answered with `answer`.
    void ExpectBox(const std::wstring& caption, const std::wstring& text, int answer = IDOK, Duration timeout = 60s) {
        MessageBoxInfo box = WaitForMessageBox(updater_->Pid(), timeout);
        EXPECT_EQ(Narrow(box.caption), Narrow(caption));
        EXPECT_EQ(Narrow(box.text), Narrow(text));
        AnswerMessageBox(box, answer);
    }

    // No further box: the updater comes to rest (status line empty, window enabled, its thread back in
    // the message loop) without one, since every box of a road comes before the road's end.
    void ExpectNoFurtherBox() {
        try {
            updater_->WaitUntilAtRest(60s);
        } catch (const DriverError& e) {
            auto box = FindMessageBox(updater_->Pid());
            ADD_FAILURE() << e.what() << "; message box: " << Narrow(box ? box->text : L"none");
        }
    }

    // Check, then select the row whose name is `name`.
    void CheckAndSelect(const std::wstring& name) {
        Press(L"Check");
        ExpectBox(L"Information", kAvailable, IDOK, 120s);
        RemoteListView grid = updater_->Grid();
        grid.Select(grid.FindRow(kColVersion, name));
        WaitOrThrow([&] { return IsEnabled(updater_->ButtonOf(L"Install")); }, 10s, L"Install to be enabled");
    }

    // Install on the selected row, answering the confirmation with Yes.
    void InstallConfirmed() {
        Press(L"Install");
        ExpectBox(L"Confirm", kConfirm, IDYES);
    }

    // Watches the main window's answers (WM_NULL every 50 ms from a thread of this process) until 40
    // have come, then checks the longest wait and prints it.
    void ExpectAnswersWhile(const std::string& what) {
        test::ResponsivenessProbe probe(updater_->MainWindow());
        WaitOrThrow([&] { return probe.Answers() >= 40; }, 60s, L"40 answers of the main window");
        std::printf("[ figure ] %s: longest wait for an answer %lu ms over %u answers\n", what.c_str(),
                    probe.LongestStallMs(), probe.Answers());
        EXPECT_LT(probe.LongestStallMs(), 500u) << what;
    }
    // Closed by its title bar's close: the window and the process are gone within 2 s, without a box.
    void ExpectGoneAfterClose() {
        PostClose(updater_->MainWindow());
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(updater_->MainWindow()); }, 2s)) << "the window stayed";
        auto box = FindMessageBox(updater_->Pid());
        EXPECT_FALSE(box.has_value()) << "message box: " << Narrow(box ? box->text : L"");
        EXPECT_TRUE(updater_->WaitForExit(10s).has_value()) << "the process stayed";
    }

    std::vector<std::string> Events() { return LinesSince(kEventsLog, 0); }
    // The download requests the server saw during this test, as "<method> <path> <status>".
    std::vector<std::string> Downloads() {
        std::vector<std::string> found;
        for (const std::string& line : LinesSince(kServeDir + L"requests.log", requestsAtStart_)) {
            if (StartsWith(line, "files "))
                found.push_back(line.substr(6));
        }
        return found;
    }

    std::wstring Label() { return updater_->CurrentVersionText(); }
    static std::wstring LabelFor(const std::wstring& version) {
        return L"You currently have Version <b>" + version + L"</b> installed.";
    }

    // Installs the slow setup program and closes the window by `close` while it runs.
    void ExpectCloseHeldUntilTheInstallEnds(const std::function<void()>& close) {
        Start();
        CheckAndSelect(L"Sleeps");
        const size_t earlier = Events().size();
        InstallConfirmed();
        WaitOrThrow([&] { return Events().size() > earlier; }, 60s, L"the setup program to start");
        close();
        EXPECT_TRUE(WaitUntil(
            [&] {
                return FindChild(updater_->MainWindow(), L"",
                                 L"The window closes when the installation has finished.") != nullptr;
            },
            2s))
            << "the status line does not say why the window stays";
        EXPECT_FALSE(updater_->WaitForExit(1s).has_value()) << "the updater ended in the middle of the install";
        EXPECT_TRUE(updater_->WaitForExit(60s).has_value()) << "the held close was not carried out";
        const std::vector<std::string> events = Events();
        ASSERT_EQ(events.size(), earlier + 3);
        EXPECT_TRUE(StartsWith(events.back(), "dataupdate server-version=5.10.0"));
    }

    // Waits for the end of the road: the main window's last box answered, the process still running.
    void ExitUpdater() {
        Press(L"Exit");
        ASSERT_TRUE(updater_->WaitForExit(30s).has_value()) << "the updater did not end after Exit";
    }

    test::ProductInstallation install_;
    std::unique_ptr<UpdaterProcess> updater_;
    size_t requestsAtStart_ = 0;
    static std::wstring* updaterExe_;
};

std::wstring* InstallE2E::updaterExe_ = nullptr;

TEST_F(InstallE2E, FullRoadInstallsTheSelectedUpdateAndShowsItsVersion) {
    const std::wstring downloaded = GetTempDirectory() + L"Memoline5ServerSetup.exe";
    test::WriteFileRaw(downloaded, "a stale setup program from an earlier install");
    Start();
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.9.0")));

    Press(L"Check");
    ExpectBox(L"Information", kAvailable, IDOK, 120s);
    RemoteListView grid = updater_->Grid();
    ASSERT_EQ(grid.Count(), 15);
    const int row = grid.FindRow(kColVersion, L"Full road");
    EXPECT_EQ(Narrow(grid.Text(row, 1)), "5.10.0");
    EXPECT_EQ(Narrow(grid.Text(row, 2)), "2026-11-28");
    EXPECT_EQ(Narrow(grid.Text(row, kColLink)), ReadPorts().at("http_url") + "/files/Memoline5ServerSetup.exe");
    EXPECT_THROW(grid.FindRow(kColVersion, L"Server Update 5.8.2"), DriverError) << "an older update is listed";
    EXPECT_THROW(grid.FindRow(kColVersion, L"Same version"), DriverError) << "the installed version is listed";
    grid.Select(row);
    WaitOrThrow([&] { return IsEnabled(updater_->ButtonOf(L"Install")); }, 10s, L"Install to be enabled");

    InstallConfirmed();
    ExpectBox(L"Information", kInstalled, IDOK, 120s);
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.10.0")));

    // The setup program got "/silent" and ran from a folder of its own under the temporary directory,
    // under the link's last segment; the data-update program ran after it and saw the new server
    // program. The folder is gone, and the stale file of the same name was never touched.
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 3u);
    const std::string start = "setup-start version=5.10.0 args=/silent file=" + Narrow(GetTempDirectory());
    EXPECT_TRUE(StartsWith(events[0], start + "MemolineSetup-")) << events[0];
    EXPECT_EQ(events[0].size(), start.size() + std::string("MemolineSetup-\\Memoline5ServerSetup.exe").size() + 32)
        << events[0];
    EXPECT_TRUE(SetupFolders().empty()) << "the setup program's folder was left behind";
    EXPECT_EQ(events[1], "setup-end installed=yes exit=0");
    EXPECT_EQ(events[2], "dataupdate server-version=5.10.0 args=");
    EXPECT_EQ(test::ReadFileRaw(downloaded), "a stale setup program from an earlier install");
    const std::vector<std::string> downloads = Downloads();
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_TRUE(StartsWith(downloads[0], "GET /files/Memoline5ServerSetup.exe 200 agent=WebDownload ")) << downloads[0];
    ExitUpdater();
}

TEST_F(InstallE2E, OnlyASetupProgramSignedByThePublisherIsStarted) {
    struct Case {
        const wchar_t* row;
        std::wstring reason;  // for the untrusted CA only its start
    } cases[] = {
        {L"Unsigned", L"The setup program is not signed."},
        {L"Changed", L"The setup program has been changed since it was signed."},
        {L"Other publisher", L"The setup program is signed by another publisher: Another Publisher."},
        {L"Untrusted CA", L"The signing certificate is not trusted: "},
        {L"Cut short", L"The setup program is not signed."},
    };
    Start();
    CheckAndSelect(L"Unsigned");
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.row));
        RemoteListView grid = updater_->Grid();
        grid.Select(grid.FindRow(kColVersion, c.row));
        InstallConfirmed();
        MessageBoxInfo box = WaitForMessageBox(updater_->Pid(), 120s);
        EXPECT_EQ(Narrow(box.caption), "Error");
        const std::wstring expected = kNotVerified + c.reason;
        EXPECT_EQ(Narrow(box.text.substr(0, expected.size())), Narrow(expected));
        if (c.reason.back() == L' ') {
            EXPECT_GT(box.text.size(), expected.size() + 10) << "the system's text is missing: " << Narrow(box.text);
        } else {
            EXPECT_EQ(Narrow(box.text), Narrow(expected));
        }
        AnswerMessageBox(box, IDOK);
        ExpectNoFurtherBox();
        EXPECT_TRUE(SetupFolders().empty()) << "the refused file's folder was kept";
        EXPECT_TRUE(Events().empty()) << "a setup or data-update program ran";
        EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.9.0")));
    }
    // Every refused program was downloaded in full (the one cut short as far as it came).
    EXPECT_EQ(Downloads().size(), std::size(cases));
    // Install works again: a signed setup program installs.
    RemoteListView grid = updater_->Grid();
    grid.Select(grid.FindRow(kColVersion, L"Full road"));
    InstallConfirmed();
    ExpectBox(L"Information", kInstalled, IDOK, 120s);
    EXPECT_EQ(Events().size(), 3u);
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.10.0")));
}

TEST_F(InstallE2E, OnAClientPcTheInstallIsRefusedAndNothingIsDownloaded) {
    test::RemoveTree(kServerDir + L"Memoline5Server.exe");
    install_.InstallClient(L"5.9.0");
    Start();
    CheckAndSelect(L"Full road");
    Press(L"Install");
    ExpectBox(L"Information", kNotServer);
    ExpectNoFurtherBox();
    EXPECT_TRUE(Downloads().empty());
    EXPECT_TRUE(Events().empty());
}

TEST_F(InstallE2E, AnsweringNoChangesNothing) {
    Start();
    CheckAndSelect(L"Full road");
    Press(L"Install");
    ExpectBox(L"Confirm", kConfirm, IDNO);
    ExpectNoFurtherBox();
    EXPECT_EQ(updater_->FindProgressDialog(), nullptr);
    EXPECT_TRUE(Downloads().empty());
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.9.0")));
    EXPECT_TRUE(SetupFolders().empty());
}

TEST_F(InstallE2E, CancelInTheProgressDialogStopsTheInstallAndInstallWorksAgain) {
    Start();
    // The server sends half of the file and then holds it: the download is under way whenever the
    // click arrives, however loaded the machine.
    CheckAndSelect(L"Held");
    InstallConfirmed();
    HWND dialog = updater_->WaitForProgressDialog(30s);
    WaitOrThrow([&] { return !Downloads().empty(); }, 60s, L"the held download to reach the server");
    Click(Button(dialog, L"Cancel"));
    ExpectBox(L"Information", kCancelled);
    ExpectNoFurtherBox();
    EXPECT_EQ(updater_->FindProgressDialog(), nullptr);
    EXPECT_TRUE(Events().empty()) << "a setup program ran after the cancel";
    EXPECT_TRUE(SetupFolders().empty()) << "the partial download was kept";

    // Both flags are reset by the next Install: this one runs to its end.
    RemoteListView grid = updater_->Grid();
    grid.Select(grid.FindRow(kColVersion, L"Full road"));
    InstallConfirmed();
    ExpectBox(L"Information", kInstalled, IDOK, 120s);
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.10.0")));
    ASSERT_EQ(Events().size(), 3u);
}

TEST_F(InstallE2E, AnUnreachableDownloadAddressIsReportedOnce) {
    Start();
    CheckAndSelect(L"Unreachable");
    InstallConfirmed();
    ExpectBox(L"Error", kUnreachable);
    ExpectNoFurtherBox();
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.9.0")));
}

TEST_F(InstallE2E, AFailedDownloadRunsNoSetupProgramEvenWithAStaleOneInPlace) {
    // A runnable setup program of the same name, left by an earlier install.
    ASSERT_TRUE(CopyFileW((test::BinDir() + L"demo_setup_5_10_0.exe").c_str(),
                          (GetTempDirectory() + L"Missing.exe").c_str(), FALSE));
    Start();
    CheckAndSelect(L"Missing");
    InstallConfirmed();
    ExpectBox(L"Error", kNotDownloaded + L"\n\nReturned http error code 404");
    ExpectNoFurtherBox();
    EXPECT_TRUE(Events().empty()) << "the stale setup program was run";
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.9.0")));
    const std::vector<std::string> downloads = Downloads();
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_TRUE(StartsWith(downloads[0], "GET /files/Missing.exe 404")) << downloads[0];
}

TEST_F(InstallE2E, ALinkWithoutAPlainFileNameIsRefused) {
    Start();
    for (const wchar_t* name : {L"Ends with slash", L"Backslashes"}) {
        SCOPED_TRACE(Narrow(name));
        if (name == std::wstring(L"Ends with slash")) {
            CheckAndSelect(name);
        } else {
            RemoteListView grid = updater_->Grid();
            grid.Select(grid.FindRow(kColVersion, name));
        }
        InstallConfirmed();
        ExpectBox(L"Error", kBadLink);
        ExpectNoFurtherBox();
    }
    EXPECT_TRUE(Downloads().empty());
    EXPECT_TRUE(Events().empty());
}

TEST_F(InstallE2E, InstallAfterACheckThatRefilledTheGridAsksForASelection) {
    Start();
    CheckAndSelect(L"Full road");
    Press(L"Check");
    ExpectBox(L"Information", kAvailable, IDOK, 120s);
    EXPECT_EQ(updater_->Grid().SelectedRow(), -1);
    ASSERT_TRUE(IsEnabled(updater_->ButtonOf(L"Install")));
    Press(L"Install");
    ExpectBox(L"Error", kNoSelection);
    ExpectNoFurtherBox();
    EXPECT_TRUE(Downloads().empty());
}

TEST_F(InstallE2E, ASecondInstallPressedDuringTheDownloadDoesNothing) {
    Start();
    CheckAndSelect(L"Slow");
    InstallConfirmed();
    updater_->WaitForProgressDialog(30s);
    WaitOrThrow([&] { return !Downloads().empty(); }, 60s, L"the slow download to reach the server");
    Press(L"Install");
    Press(L"Check");
    // Neither a second confirmation nor a check result: the one box is the end of this install.
    ExpectBox(L"Information", kInstalled, IDOK, 120s);
    ExpectNoFurtherBox();
    const std::vector<std::string> downloads = Downloads();
    ASSERT_EQ(downloads.size(), 1u) << "a second download ran";
    EXPECT_EQ(Events().size(), 3u);
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.10.0")));
}

// The window answers at once whatever the network does, and closing it ends the work.
TEST_F(InstallE2E, TheWindowAnswersWhileTheCatalogueTricklesOrStaysSilentAndClosingEndsTheCheck) {
    const std::wstring modeFile = kServeDir + L"catalogue-mode";
    for (const char* mode : {"trickle", "silent"}) {
        SCOPED_TRACE(mode);
        test::WriteFileRaw(modeFile, mode);
        Start();
        Press(L"Check");
        WaitOrThrow([&] { return updater_->StatusText().rfind(L"Checking", 0) == 0; }, 30s, L"the check to start");
        ExpectAnswersWhile(std::string("catalogue ") + mode);
        ExpectGoneAfterClose();
        updater_.reset();
    }
    DeleteFileW(modeFile.c_str());
}

// The peak working set of a process, in MiB; negative when it cannot be read.
double PeakWorkingSetMb(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process == nullptr)
        return -1;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    const BOOL read = GetProcessMemoryInfo(process, &counters, sizeof counters);
    CloseHandle(process);
    return read ? static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0) : -1;
}

// An answer that inflates without end, a body without end and a header line without end are cut at a
// limit: the operator reads why, the window stays, and the process's memory stays near its figure at
// rest.
TEST_F(InstallE2E, AnEndlessOrInflatingAnswerEndsTheCheckWithItsCauseAndMemoryStaysBounded) {
    const std::wstring modeFile = kServeDir + L"catalogue-mode";
    const std::wstring unable = L"Unable to check for updates.\r\n\r\n";
    const struct {
        const char* mode;
        std::wstring cause;
    } cases[] = {
        {"gzip-bomb", L"The answer of the update server is too large."},
        {"endless-body", L"The answer of the update server is too large."},
        {"endless-header", L"The response header is too long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        test::WriteFileRaw(modeFile, c.mode);
        Start();
        const double atRest = PeakWorkingSetMb(updater_->Pid());
        ASSERT_GT(atRest, 0) << "the updater's memory counters cannot be read";
        Press(L"Check");
        ExpectBox(L"Error", unable + c.cause, IDOK, 120s);
        const double peak = PeakWorkingSetMb(updater_->Pid());
        std::printf("[ figure ] %s: peak working set %.1f MiB, at rest %.1f MiB\n", c.mode, peak, atRest);
        EXPECT_LT(peak - atRest, 50.0);
        ExpectAnswersWhile(std::string("after ") + c.mode);
        ExpectGoneAfterClose();
        updater_.reset();
    }
    DeleteFileW(modeFile.c_str());
}

TEST_F(InstallE2E, TheWindowAnswersWhileTheDownloadTricklesOrIsHeldAndClosingCancelsIt) {
    for (const wchar_t* road : {L"Slow", L"Held"}) {
        SCOPED_TRACE(Narrow(road));
        Start();
        CheckAndSelect(road);
        InstallConfirmed();
        updater_->WaitForProgressDialog(30s);
        ExpectAnswersWhile("download " + Narrow(road));
        ExpectGoneAfterClose();
        EXPECT_TRUE(SetupFolders().empty()) << "the partial download was kept";
        EXPECT_TRUE(Events().empty()) << "a setup program ran";
        updater_.reset();
    }
}

TEST_F(InstallE2E, ClosingTheWindowDuringTheInstallWaitsForItsEnd) {
    Start();
    CheckAndSelect(L"Sleeps");
    InstallConfirmed();
    // The setup program takes 3 s; close the window while it runs.
    WaitOrThrow([&] { return !Events().empty(); }, 60s, L"the setup program to start");
    PostClose(updater_->MainWindow());
    EXPECT_FALSE(updater_->WaitForExit(1s).has_value()) << "the updater ended in the middle of the install";
    // No message at the end: the window goes once the data-update program has ended.
    EXPECT_TRUE(updater_->WaitForExit(60s).has_value()) << "the held close was not carried out";
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_TRUE(StartsWith(events[2], "dataupdate server-version=5.10.0"));
}

// Exit and Alt+F4 during the install are held as the title bar's close is: the status line says why the
// window stays, and it goes once the data-update program has ended.
TEST_F(InstallE2E, ExitDuringTheInstallWaitsForItsEnd) {
    ExpectCloseHeldUntilTheInstallEnds([&] { Press(L"Exit"); });
}

TEST_F(InstallE2E, AltF4DuringTheInstallWaitsForItsEnd) {
    ExpectCloseHeldUntilTheInstallEnds([&] {
        // lParam bit 29: the Alt key is down.
        ASSERT_TRUE(PostMessageW(updater_->ButtonOf(L"Exit"), WM_SYSKEYDOWN, VK_F4, 1 | (1 << 29)));
    });
}

TEST_F(InstallE2E, ASetupProgramThatFailsIsReportedAndNoDataUpdateRuns) {
    Start();
    CheckAndSelect(L"Exit2");
    InstallConfirmed();
    ExpectBox(L"Error", L"The Server Update could not be installed (setup exit code 2).", IDOK, 120s);
    ExpectNoFurtherBox();
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 2u) << "the data-update program ran";
    EXPECT_EQ(events[1], "setup-end installed=yes exit=2");
    // The label is read again all the same: this setup program did replace the server program.
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.10.0")));
}

TEST_F(InstallE2E, ASetupProgramThatAsksForARestartCountsAsInstalled) {
    Start();
    CheckAndSelect(L"Exit3010");
    InstallConfirmed();
    ExpectBox(L"Information", kInstalled, IDOK, 120s);
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1], "setup-end installed=yes exit=3010");
    EXPECT_TRUE(StartsWith(events[2], "dataupdate "));
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.10.0")));
}

TEST_F(InstallE2E, AMissingDataUpdateProgramIsReported) {
    test::RemoveTree(kServerDir + L"DataUpdate.exe");
    Start();
    CheckAndSelect(L"Full road");
    InstallConfirmed();
    ExpectBox(L"Error", L"Unable to start C:\\Memoline5Server\\DataUpdate.exe: " + ErrorText(ERROR_FILE_NOT_FOUND),
              IDOK, 120s);
    ExpectNoFurtherBox();
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1], "setup-end installed=yes exit=0");
}

// The environment variable set for the object's life (the updater started meanwhile inherits it).
class TEnvironmentVariable {
public:
    TEnvironmentVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t old[4096];
        const DWORD length = GetEnvironmentVariableW(name, old, 4096);
        had_ = length > 0 && length < 4096;
        if (had_)
            old_ = old;
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~TEnvironmentVariable() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }
    TEnvironmentVariable(const TEnvironmentVariable&) = delete;
    TEnvironmentVariable& operator=(const TEnvironmentVariable&) = delete;

private:
    const wchar_t* name_;
    bool had_ = false;
    std::wstring old_;
};

// The DLLs the updater loads during start-up, a Check and an Install (seen under Wine with
// WINEDEBUG=+loaddll), and urlmon.dll, loaded for a server's sign-in challenge. Left out: the
// KnownDLLs of Windows 7 and 10 alike (kernel32, user32, gdi32, msvcrt, advapi32, sechost, rpcrt4,
// ole32, shell32, shlwapi, imm32, imagehlp, nsi, ws2_32), which Windows maps from its own folder
// whatever the search order, where Wine would take a copy from the program's folder; Wine's own
// pieces (win32u, winex11.drv, zlib1); and dhcpcsvc.dll, which Wine's WinINet loads on first use
// through its delay-load thunk from the search path the process started with, past the restriction
// to the system folder (Windows resolves such a load by the process's default DLL directories).
const wchar_t* const kDllsLoaded[] = {
    L"bcrypt.dll",   L"combase.dll",  L"comctl32.dll", L"crypt32.dll",  L"dbghelp.dll",  L"dnsapi.dll",
    L"iphlpapi.dll", L"kerberos.dll", L"mpr.dll",      L"msimg32.dll",  L"msv1_0.dll",   L"netapi32.dll",
    L"rsaenh.dll",   L"schannel.dll", L"secur32.dll",  L"security.dll", L"shcore.dll",   L"ucrtbase.dll",
    L"urlmon.dll",   L"uxtheme.dll",  L"version.dll",  L"wininet.dll",  L"wintrust.dll",
};

// Operators start the updater from their Downloads folder, where any web page can leave a file. A
// marker DLL under the name of each DLL it loads lies beside a copy of it, and Wine is told to take
// a DLL found on the search path before its own ("n,b", as Windows does): none may be loaded.
TEST_F(InstallE2E, NoDllBesideTheProgramIsLoaded) {
    const std::wstring folder = kServeDir + L"downloads\\";
    test::RemoveTree(folder);
    test::CreateDirectories(folder);
    const std::wstring exe = folder + L"MemolineServerUpdates.exe";
    ASSERT_TRUE(CopyFileW(updaterExe_->c_str(), exe.c_str(), FALSE)) << GetLastError();
    std::wstring names;
    for (const wchar_t* dll : kDllsLoaded) {
        ASSERT_TRUE(CopyFileW((test::BinDir() + L"memoline_marker.dll").c_str(), (folder + dll).c_str(), FALSE))
            << Narrow(dll) << ": " << GetLastError();
        std::wstring name = dll;
        names += (names.empty() ? L"" : L",") + name.substr(0, name.size() - 4);
    }
    {
        const TEnvironmentVariable overrides(L"WINEDLLOVERRIDES", L"mscoree,mshtml=;" + names + L"=n,b");
        updater_ = std::make_unique<UpdaterProcess>(exe);
    }
    updater_->WaitForMainWindow(60s);
    CheckAndSelect(L"Full road");
    InstallConfirmed();
    ExpectBox(L"Information", kInstalled, IDOK, 120s);
    EXPECT_EQ(Narrow(Label()), Narrow(LabelFor(L"5.10.0")));
    ExitUpdater();
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((folder + L"*.loaded").c_str(), &data);
    std::vector<std::string> loaded;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            loaded.push_back(Narrow(data.cFileName));
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    EXPECT_TRUE(loaded.empty()) << "loaded from beside the program: " << ::testing::PrintToString(loaded);
}

}  // namespace
