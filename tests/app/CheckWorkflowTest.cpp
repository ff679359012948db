// The update check in the main window: the catalogue answer (from a loopback peer) split into rows,
// the grid's caption and the operator's messages.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "app/MainForm.h"
#include "catalogue/CatalogueConfig.h"
#include "catalogue/UpdateRequestHelper.h"
#include "tests/http/CannedHttpServer.h"
#include "tests/support/MessageAnswers.h"
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
    ExpectOneMessage(Check(), L"There are 2 Server Updates available.", TMsgDlgType::Information);
    EXPECT_EQ(Rows(), (std::vector<Row>{
                          {L"Memoline Server 5.9.1", L"5.9.1", L"2026-01-15",
                           L"https://localhost:" + p + L"/setup/MemolineServer591.exe"},
                          {L"Memoline Server 5.10 \"Spring\"", L"5.10.0", L"2026-04-01",
                           L"https://localhost:" + p + L"/setup/MemolineServer5100.exe"},
                      }));
}

}  // namespace
}  // namespace memoline
