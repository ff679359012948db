// The logged-on user's Windows credentials answer a server's Negotiate or NTLM challenge only in the
// Local Intranet zone, as the system's own zone map decides, and never after a redirect to another
// host. Wine makes no Negotiate or NTLM token without Samba's helper, so the conversations here are a
// stand-in that records what it was asked; the zones are the system's, set through the user's zone
// map (under Wine every http host is in the Internet zone unless the map names it).
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "http/NetErrors.h"
#include "http/NetHttp.h"
#include "http/NetHttpAuth.h"
#include "http/UrlZone.h"
#include "tests/support/CannedHttpServer.h"

namespace memoline {
namespace {

using test::CannedHttpServer;
using test::CannedReply;
using test::ResponseWithLength;

const wchar_t kDomains[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";

// The user's zone map names `host` as a Local Intranet site for http, for the object's life.
class TIntranetHost {
public:
    explicit TIntranetHost(const std::wstring& host) : key_(kDomains + host) {
        HKEY key = nullptr;
        EXPECT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        const DWORD intranet = 1;
        EXPECT_EQ(RegSetValueExW(key, L"http", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&intranet), sizeof intranet),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ~TIntranetHost() { RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str()); }
    TIntranetHost(const TIntranetHost&) = delete;
    TIntranetHost& operator=(const TIntranetHost&) = delete;

private:
    std::wstring key_;
};

TEST(UrlZone, TheSystemsZoneMapDecidesTheLocalIntranet) {
    const TIntranetHost localhost(L"localhost");
    struct Case {
        const wchar_t* url;
        bool intranet;
    } cases[] = {
        {L"http://localhost:8080/a/b", true},
        {L"http://LOCALHOST/", true},
        {L"https://localhost/", false},  // the map names it for http only
        {L"http://127.0.0.1/", false},
        {L"https://updates.example.com/x", false},
        {L"not a url", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsLocalIntranetUrl(c.url), c.intranet) << std::string(c.url, c.url + wcslen(c.url));
}

// What the stand-in conversations were asked: one entry per Acquire, the package and the user.
struct TAsked {
    std::vector<std::wstring> acquired;
};

class TStandInConversation : public TnetAuthConversation {
public:
    explicit TStandInConversation(TAsked& asked) : asked_(asked) {}
    bool Acquire(const std::wstring& package, const std::wstring& userName, const std::wstring&) override {
        asked_.acquired.push_back(package + L":" + userName);
        return true;
    }
    std::string Step(const std::string&, const std::wstring&) override { return "token"; }

private:
    TAsked& asked_;
};

CannedReply Reply(std::string head) {
    CannedReply reply;
    reply.head = std::move(head);
    return reply;
}

CannedReply Challenge() {
    return Reply(
        ResponseWithLength("HTTP/1.1 401 Unauthorized", {"WWW-Authenticate: Negotiate", "WWW-Authenticate: NTLM"}, ""));
}

CannedReply Ok() {
    return Reply(ResponseWithLength("HTTP/1.1 200 OK", {"Content-Type: text/plain"}, "fine"));
}

bool HasAuthorization(const std::string& request) {
    return request.substr(0, request.find("\r\n\r\n") + 2).find("\r\nAuthorization:") != std::string::npos;
}

// Posts to `url` with the stand-in conversations; the error text, empty on success.
std::wstring Post(const std::string& url, TAsked& asked, const std::wstring& userName = L"") {
    TnetHttp http;
    http.TimeOut = 10000;
    http.UserName = userName;
    http.AuthConversations = [&asked] { return std::make_unique<TStandInConversation>(asked); };
    TnetStringList lines;
    try {
        http.Post(std::wstring(url.begin(), url.end()), nullptr, lines);
    } catch (const EnetError& e) {
        return e.Message();
    }
    return L"";
}

std::string UrlOn(const char* host, const CannedHttpServer& server, const char* path = "/") {
    return std::string("http://") + host + ":" + std::to_string(server.Port()) + path;
}

TEST(LogonCredentials, AnInternetZoneServerGetsNoAuthorization) {
    CannedHttpServer server({{Challenge()}, {Ok()}});
    TAsked asked;
    EXPECT_EQ(Post(UrlOn("127.0.0.1", server), asked), L"HTTP/1.1 401 Unauthorized");
    EXPECT_TRUE(asked.acquired.empty()) << "the logged-on user's credentials were taken";
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests[0].size(), 1u);
    EXPECT_FALSE(HasAuthorization(requests[0][0]));
}

TEST(LogonCredentials, ALocalIntranetServerIsAnsweredWithThem) {
    const TIntranetHost localhost(L"localhost");
    CannedHttpServer server({{Challenge()}, {Ok()}});
    TAsked asked;
    EXPECT_EQ(Post(UrlOn("localhost", server), asked), L"");
    EXPECT_EQ(asked.acquired, std::vector<std::wstring>{L"Negotiate:"});
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1][0].find("\r\nAuthorization: Negotiate dG9rZW4=\r\n"), std::string::npos) << requests[1][0];
}

// Both hosts are in the intranet zone; the second is one a redirect led to.
TEST(LogonCredentials, AnotherHostARedirectLedToGetsNoAuthorization) {
    const TIntranetHost localhost(L"localhost");
    const TIntranetHost loopback(L"127.0.0.1");
    CannedHttpServer second({{Challenge()}, {Ok()}});
    CannedHttpServer first(
        {{Reply(ResponseWithLength("HTTP/1.1 302 Found", {"Location: " + UrlOn("127.0.0.1", second, "/next")}, ""))}});
    TAsked asked;
    EXPECT_EQ(Post(UrlOn("localhost", first), asked), L"HTTP/1.1 401 Unauthorized");
    EXPECT_TRUE(asked.acquired.empty()) << "the logged-on user's credentials were taken";
    const auto requests = second.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(HasAuthorization(requests[0][0]));
}

// A user name the caller gave is its own choice of server: it answers in any zone.
TEST(LogonCredentials, GivenCredentialsStillAnswerAnInternetZoneServer) {
    CannedHttpServer server({{Challenge()}, {Ok()}});
    TAsked asked;
    EXPECT_EQ(Post(UrlOn("127.0.0.1", server), asked, L"DOMAIN\\user"), L"");
    EXPECT_EQ(asked.acquired, std::vector<std::wstring>{L"Negotiate:DOMAIN\\user"});
}

}  // namespace
}  // namespace memoline
