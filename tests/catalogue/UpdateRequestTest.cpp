// The catalogue request: its exact POST, its results and its log lines against loopback peers with
// canned replies, and the whole road against a real nginx over HTTPS.
#include "catalogue/UpdateRequestHelper.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "catalogue/CatalogueConfig.h"
#include "catalogue/RequestLog.h"
#include "http/NetErrors.h"
#include "http/NetHttp.h"
#include "tests/support/CannedHttpServer.h"

namespace memoline {
namespace {

using test::CannedHttpServer;
using test::CannedReply;
using test::ResponseWithLength;
using Lines = std::vector<std::wstring>;

const char kPath[] = "/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates";

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

struct LogEntry {
    std::string receiver;
    uint8_t level;
    std::wstring text;
    bool operator==(const LogEntry&) const = default;
};

void PrintTo(const LogEntry& e, std::ostream* os) {
    *os << e.receiver << "(" << int(e.level) << ", " << std::string(e.text.begin(), e.text.end()) << ")";
}

class Recorder : public IRequestLogger {
public:
    explicit Recorder(std::vector<LogEntry>& log) : log_(log) {}
    void Log(uint8_t level, const std::wstring& text) override { log_.push_back({"interface", level, text}); }

private:
    std::vector<LogEntry>& log_;
};

// Both receivers record into log_; the address is restored afterwards.
class CatalogueRequest : public ::testing::Test {
protected:
    void SetUp() override {
        RequestLogEvent = [this](uint8_t level, const std::wstring& text) {
            log_.push_back({"callback", level, text});
            if (throwOn_ && text.find(throwOn_) != std::wstring::npos)
                throw EnetError(L"the receiver failed");
        };
        RequestLogger = std::make_shared<Recorder>(log_);
    }
    void TearDown() override {
        RequestLogEvent = nullptr;
        RequestLogger.reset();
        CatalogueAddress = kCatalogueUrl;
    }
    // Each line as both receivers got it, callback first.
    static std::vector<LogEntry> Both(const std::vector<std::pair<uint8_t, std::wstring>>& lines) {
        std::vector<LogEntry> out;
        for (const auto& [level, text] : lines) {
            out.push_back({"callback", level, text});
            out.push_back({"interface", level, text});
        }
        return out;
    }
    std::vector<LogEntry> log_;
    const wchar_t* throwOn_ = nullptr;
};

TEST_F(CatalogueRequest, PostsThePasswordAndLogsTheSuccess) {
    CannedHttpServer server({{{ResponseWithLength("HTTP/1.1 200 OK", {}, "a\r\nbc\r\n")}}});
    const std::wstring address = Wide(server.Url(kPath));
    CatalogueAddress = address;
    const TServerUpdates result = RequestServerUpdates();
    EXPECT_TRUE(result.Succeeded);
    EXPECT_EQ(result.FailureMessage, L"");
    EXPECT_EQ(result.Lines, (Lines{L"a", L"bc"}));
    EXPECT_EQ(log_, Both({{0, L"POST " + address + L" START"}, {0, L"POST " + address + L" OK (resp 7 bytes)"}}));

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string password(kCataloguePassword, kCataloguePassword + wcslen(kCataloguePassword));
    EXPECT_EQ(password.size(), 30u);
    const std::string body = "system_password=" + password;
    EXPECT_EQ(requests[0][0], std::string("POST ") + kPath +
                                  " HTTP/1.1\r\n"
                                  "Accept: */*\r\n"
                                  "Content-Length: " +
                                  std::to_string(body.size()) +
                                  "\r\n"
                                  "Content-Type: application/x-www-form-urlencoded\r\n"
                                  "Accept-Encoding: gzip\r\n"
                                  "Host: 127.0.0.1:" +
                                  std::to_string(server.Port()) +
                                  "\r\n"
                                  "User-Agent: Mozilla/4.0 (compatible; Memoline Server Updates)\r\n"
                                  "Connection: Keep-Alive\r\n"
                                  "\r\n" +
                                  body);
}

TEST_F(CatalogueRequest, PostFormSendsTheFirstValueOfEachName) {
    CannedHttpServer server({{{ResponseWithLength("HTTP/1.1 200 OK", {}, "")}}});
    const std::wstring address = Wide(server.Url("/form"));
    Lines response = {L"old"};
    EXPECT_TRUE(PostForm(address, {L"x=1", L"y=a b", L"X=2"}, response));
    EXPECT_TRUE(response.empty());
    EXPECT_EQ(log_, Both({{0, L"POST " + address + L" START"}, {0, L"POST " + address + L" OK (resp 0 bytes)"}}));
    const auto requests = server.Requests();
    const std::string& request = requests[0][0];
    EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), "x=1&y=a+b&X=1");
}

TEST_F(CatalogueRequest, FailuresBecomeAnErrorLineAndTwoLogLines) {
    struct Case {
        const char* name;
        std::vector<std::vector<CannedReply>> script;
        std::wstring message;  // empty: any
    } cases[] = {
        {"HTTP error", {{{ResponseWithLength("HTTP/1.1 404 Not Found", {}, "gone")}}}, L"HTTP/1.1 404 Not Found"},
        {"nobody listening", {}, L""},
    };
    for (const auto& c : cases) {
        log_.clear();
        CannedHttpServer server(c.script);
        if (c.script.empty())
            server.Requests();  // closes the listener: connections are refused
        const std::wstring address = Wide(server.Url(kPath));
        CatalogueAddress = address;
        const TServerUpdates result = RequestServerUpdates();
        EXPECT_FALSE(result.Succeeded) << c.name;
        if (!c.message.empty())
            EXPECT_EQ(result.FailureMessage, c.message) << c.name;
        EXPECT_FALSE(result.FailureMessage.empty()) << c.name;
        EXPECT_EQ(result.Lines, Lines{L"ERROR: " + result.FailureMessage}) << c.name;
        EXPECT_EQ(log_, Both({{0, L"POST " + address + L" START"},
                              {2, L"ERROR E6582: POST " + address + L" FAILED: " + result.FailureMessage},
                              {2, L"ERROR E6583: The update catalogue request failed"}}))
            << c.name;
    }
}

TEST_F(CatalogueRequest, AReceiverThatFailsOnTheOkLineTurnsTheCallIntoAFailure) {
    CannedHttpServer server({{{ResponseWithLength("HTTP/1.1 200 OK", {}, "N;5.9.1;D;L;E\r\n")}}});
    const std::wstring address = Wide(server.Url("/"));
    throwOn_ = L" OK ";
    Lines response;
    std::wstring message;
    EXPECT_FALSE(PostForm(address, {L"system_password=x"}, response, &message));
    EXPECT_EQ(message, L"the receiver failed");
    EXPECT_EQ(response, Lines{L"ERROR: the receiver failed"});
    // The OK line reached the callback only, which failed on it.
    const std::wstring failed = L"ERROR E6582: POST " + address + L" FAILED: the receiver failed";
    EXPECT_EQ(log_, (std::vector<LogEntry>{{"callback", 0, L"POST " + address + L" START"},
                                           {"interface", 0, L"POST " + address + L" START"},
                                           {"callback", 0, L"POST " + address + L" OK (resp 15 bytes)"},
                                           {"callback", 2, failed},
                                           {"interface", 2, failed}}));
}

TEST_F(CatalogueRequest, AMessageWithLineBreaksGivesSeveralErrorLines) {
    Lines response;
    RequestLogEvent = [](uint8_t, const std::wstring&) { throw EnetError(L"first\r\nsecond"); };
    EXPECT_FALSE(PostForm(L"http://127.0.0.1:1/", {}, response));
    EXPECT_EQ(response, (Lines{L"ERROR: first", L"second"}));
}

// The nginx fixture writes its ports here.
std::map<std::string, int> NginxPorts() {
    std::map<std::string, int> ports;
    std::ifstream in(MEMOLINE_NGINX_DIR "/ports.txt");
    std::string name;
    int port;
    while (in >> name >> port)
        ports[name] = port;
    return ports;
}

TEST_F(CatalogueRequest, AgainstNginxOverHttps) {
    const int port = NginxPorts()["https"];
    ASSERT_NE(port, 0);
    const std::wstring address = L"https://localhost:" + std::to_wstring(port) + Wide(kPath);
    CatalogueAddress = address;
    const TServerUpdates result = RequestServerUpdates();
    ASSERT_TRUE(result.Succeeded) << std::string(result.FailureMessage.begin(), result.FailureMessage.end());
    const std::wstring p = std::to_wstring(port);
    EXPECT_EQ(
        result.Lines,
        (Lines{L"\"Memoline Server 5.9.1\";5.9.1;2026-01-15;https://localhost:" + p + L"/setup/MemolineServer591.exe;a",
               L"\"Memoline Server 5.10 \"\"Spring\"\"\";5.10.0;2026-04-01;https://localhost:" + p +
                   L"/setup/MemolineServer5100.exe;b",
               L"Memoline Server 5.8;5.8.0;2025-06-01;https://localhost/old.exe;c", L"not an update line"}));
    EXPECT_EQ(log_.back().text.find(L"POST " + address + L" OK (resp "), 0u);
}

TEST_F(CatalogueRequest, NginxGzipKeepAliveAndNoRedirectToPlainHttp) {
    const auto ports = NginxPorts();
    const std::wstring base = L"https://localhost:" + std::to_wstring(ports.at("https"));
    TnetHttp http;
    TnetHttpRequest request;
    request.AddFormField(L"system_password", L"x");
    Lines lines;
    http.Post(base + L"/big", &request, lines);
    EXPECT_EQ(http.ResponseHeader().ContentEncoding(), L"gzip");
    EXPECT_EQ(http.ResponseHeader().TransferEncoding(), L"chunked");
    ASSERT_EQ(lines.size(), 4000u);
    EXPECT_EQ(lines[3999], L"line 3999;3999.0;x;y;z");
    // Kept alive: the next request is the connection's second.
    http.Post(base + L"/connection", &request, lines);
    EXPECT_EQ(lines, Lines{L"2"});
    // An https page that redirects to http is not followed: the form would go out in clear.
    lines = {L"untouched"};
    try {
        http.Post(base + L"/to-http", &request, lines);
        ADD_FAILURE() << "followed a redirect to http";
    } catch (const EnetHttpError& e) {
        EXPECT_EQ(e.Message(), L"HTTP/1.1 301 Moved Permanently");
        EXPECT_EQ(e.ErrorCode(), 301);
    }
    EXPECT_EQ(lines, Lines{L"untouched"});
}

}  // namespace
}  // namespace memoline
