// The check and the download through the current user's system proxy, set in the registry as a site
// sets it: a loopback proxy (tools/proxy/loopback_proxy.py) with and without Basic sign-in, in front
// of the nginx catalogue. The proxy logs every request head and keeps every byte a client sent it.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "catalogue/CatalogueConfig.h"
#include "catalogue/UpdateRequestHelper.h"
#include "download/WebDownloader.h"
#include "http/SystemProxyScript.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestHttpServer.h"

namespace memoline {
namespace {

using Lines = std::vector<std::wstring>;

const char kPath[] = "/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates";
const wchar_t kUser[] = L"proxyuser";
const wchar_t kPassword[] = L"Pr0xy-Secret";

std::string Narrow(const std::wstring& s) {
    return std::string(s.begin(), s.end());
}

std::map<std::string, int> Ports(const char* file) {
    std::map<std::string, int> ports;
    std::ifstream in(file);
    std::string name;
    int port;
    while (in >> name >> port)
        ports[name] = port;
    return ports;
}

std::string ReadAll(const char* file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The current user's proxy settings, where the system's HTTP stack reads them; removed again at the end.
class ScopedSystemProxy {
public:
    ScopedSystemProxy(const std::wstring& server, const std::wstring& bypass) {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &key_, nullptr);
        DWORD enable = 1;
        RegSetValueExW(key_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
        SetText(L"ProxyServer", server);
        SetText(L"ProxyOverride", bypass);
    }
    ~ScopedSystemProxy() {
        DWORD enable = 0;
        RegSetValueExW(key_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
        RegDeleteValueW(key_, L"ProxyServer");
        RegDeleteValueW(key_, L"ProxyOverride");
        RegCloseKey(key_);
    }
    ScopedSystemProxy(const ScopedSystemProxy&) = delete;
    ScopedSystemProxy& operator=(const ScopedSystemProxy&) = delete;

private:
    void SetText(const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    HKEY key_ = nullptr;
};

class ProxyTest : public testing::Test {
protected:
    ProxyTest()
        : proxies_(Ports(MEMOLINE_PROXY_DIR "/ports.txt")),
          nginx_(Ports(MEMOLINE_NGINX_DIR "/ports.txt")),
          logBefore_(ReadAll(MEMOLINE_PROXY_DIR "/proxy.log").size()),
          bytesBefore_(ReadAll(MEMOLINE_PROXY_DIR "/client-bytes.bin").size()) {}
    ~ProxyTest() override { CatalogueAddress = kCatalogueUrl; }

    std::wstring Proxy(const char* name) { return L"127.0.0.1:" + std::to_wstring(proxies_.at(name)); }
    std::wstring CatalogueOverHttps() {
        return L"https://localhost:" + std::to_wstring(nginx_.at("https")) +
               std::wstring(kPath, kPath + sizeof kPath - 1);
    }
    std::string Authority(const char* which, const char* host) {
        return std::string(host) + ":" + std::to_string(nginx_.at(which));
    }
    // What the proxies logged and received during this test.
    std::string NewLog() { return ReadAll(MEMOLINE_PROXY_DIR "/proxy.log").substr(logBefore_); }
    std::string NewBytes() { return ReadAll(MEMOLINE_PROXY_DIR "/client-bytes.bin").substr(bytesBefore_); }

    std::map<std::string, int> proxies_;
    std::map<std::string, int> nginx_;
    size_t logBefore_;
    size_t bytesBefore_;
};

// The catalogue's first answer line, from the nginx fixture.
void ExpectCatalogue(const TServerUpdates& result) {
    ASSERT_TRUE(result.Succeeded) << Narrow(result.FailureMessage);
    ASSERT_EQ(result.Lines.size(), 4u);
    EXPECT_EQ(result.Lines[0].rfind(L"\"Memoline Server 5.9.1\";5.9.1;", 0), 0u);
}

TEST_F(ProxyTest, CheckOverHttpsGoesThroughATunnelTheProxyCannotRead) {
    ASSERT_FALSE(proxies_.empty());
    ScopedSystemProxy settings(Proxy("open"), L"<-loopback>");
    CatalogueAddress = CatalogueOverHttps();
    ExpectCatalogue(RequestServerUpdates());
    EXPECT_EQ(NewLog(), "open CONNECT " + Authority("https", "localhost") + " auth=none\n");
    const std::string bytes = NewBytes();
    EXPECT_NE(bytes.find("CONNECT "), std::string::npos);
    EXPECT_EQ(bytes.find(Narrow(kCataloguePassword)), std::string::npos) << "the proxy saw the password";
    EXPECT_EQ(bytes.find("system_password"), std::string::npos) << "the proxy saw the form";
}

TEST_F(ProxyTest, PlainHttpGoesToTheProxyWithTheAbsoluteTarget) {
    ScopedSystemProxy settings(L"http=" + Proxy("open") + L";https=127.0.0.1:1", L"<-loopback>");
    const std::wstring address = L"http://127.0.0.1:" + std::to_wstring(nginx_.at("http")) + L"/plain";
    Lines lines;
    std::wstring failure;
    ASSERT_TRUE(PostForm(address, {L"a=b"}, lines, &failure)) << Narrow(failure);
    EXPECT_EQ(lines, Lines{L"plain"});
    EXPECT_EQ(NewLog(), "open POST " + Narrow(address) + " auth=none\n");
}

TEST_F(ProxyTest, BypassedHostAndProxyFreeSettingsGoDirect) {
    CatalogueAddress = CatalogueOverHttps();
    {
        ScopedSystemProxy settings(Proxy("open"), L"<-loopback>;localhost");
        ExpectCatalogue(RequestServerUpdates());
    }
    {
        ScopedSystemProxy settings(Proxy("open"), L"");  // loopback goes direct without <-loopback>
        ExpectCatalogue(RequestServerUpdates());
    }
    EXPECT_EQ(NewLog(), "");
}

TEST_F(ProxyTest, SignInIsAskedOnceAndAnswersThe407) {
    ScopedSystemProxy settings(Proxy("auth"), L"<-loopback>");
    CatalogueAddress = CatalogueOverHttps();
    std::vector<bool> asked;
    TnetProxyLoginEvent login = [&](TObject*, const std::wstring& proxy, bool again, std::wstring& user,
                                    std::wstring& password) {
        EXPECT_EQ(proxy, L"127.0.0.1");
        asked.push_back(again);
        user = kUser;
        password = kPassword;
        return true;
    };
    ExpectCatalogue(RequestServerUpdates(login));
    EXPECT_EQ(asked, std::vector<bool>{false});
    const std::string connect = "auth CONNECT " + Authority("https", "localhost");
    EXPECT_EQ(NewLog(), connect + " auth=none\n" + connect + " auth=good\n");
    EXPECT_EQ(NewBytes().find(Narrow(kCataloguePassword)), std::string::npos) << "the proxy saw the password";
}

TEST_F(ProxyTest, WrongCredentialsAreAskedTwiceMoreThenReportedWithTheStatusLine) {
    ScopedSystemProxy settings(Proxy("auth"), L"<-loopback>");
    CatalogueAddress = CatalogueOverHttps();
    std::vector<bool> asked;
    TnetProxyLoginEvent login = [&](TObject*, const std::wstring&, bool again, std::wstring& user,
                                    std::wstring& password) {
        asked.push_back(again);
        user = kUser;
        password = L"wrong";
        return true;
    };
    TServerUpdates result = RequestServerUpdates(login);
    EXPECT_FALSE(result.Succeeded);
    EXPECT_EQ(asked, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(Narrow(result.FailureMessage), "HTTP/1.1 407 Proxy Authentication Required");
    EXPECT_EQ(result.Lines, Lines{L"ERROR: HTTP/1.1 407 Proxy Authentication Required"});

    // Nobody to ask, or the operator cancels: the 407 is reported at once.
    asked.clear();
    result = RequestServerUpdates([&](TObject*, const std::wstring&, bool again, std::wstring&, std::wstring&) {
        asked.push_back(again);
        return false;
    });
    EXPECT_EQ(asked, std::vector<bool>{false});
    EXPECT_EQ(Narrow(result.FailureMessage), "HTTP/1.1 407 Proxy Authentication Required");
    result = RequestServerUpdates();
    EXPECT_EQ(Narrow(result.FailureMessage), "HTTP/1.1 407 Proxy Authentication Required");
}

TEST_F(ProxyTest, DownloadGoesThroughTheSameProxy) {
    ScopedSystemProxy settings(Proxy("open"), L"<-loopback>");
    test::ScratchDir scratch(L"proxy_download");
    TWebDownloader d;
    d.HTTPKeepAliveAuthentication = true;
    TWebDownloadItem* item = d.Items().Add();
    item->URL = L"http://127.0.0.1:" + std::to_wstring(nginx_.at("http")) + L"/Setup.exe";
    item->TargetDir = scratch.Path();
    item->TargetFilename = L"Setup.exe";
    d.ThreadExecAndWait();
    EXPECT_TRUE(item->Success());
    EXPECT_EQ(test::ReadFileRaw(scratch / L"Setup.exe"), "plain\n");
    EXPECT_EQ(NewLog(), "open GET " + Narrow(item->URL) + " auth=none\n");
}

// A configuration script is run by the system's own means. (Wine does not report a script set in
// the registry, so the road from the settings to the script is not reachable here.)
TEST_F(ProxyTest, ConfigurationScriptIsRunByTheSystem) {
    const std::wstring script = L"http://" + Proxy("open") + L"/proxy.pac";
    TnetProxyServer proxy;
    ASSERT_EQ(ProxyFromScript(L"https://127.0.0.1:" + std::to_wstring(nginx_.at("https")) + L"/x", script, proxy),
              TnetScriptProxy::spProxy);
    EXPECT_EQ(proxy.Host, L"127.0.0.1");
    EXPECT_EQ(proxy.Port, proxies_.at("open"));
    EXPECT_EQ(ProxyFromScript(L"https://localhost/x", script, proxy), TnetScriptProxy::spDirect);
    EXPECT_EQ(ProxyFromScript(L"https://localhost/x", L"http://127.0.0.1:1/proxy.pac", proxy),
              TnetScriptProxy::spFailed);
}

// The engine answers the proxy's 407 through WinINet, with the same asking rules as the check.
TEST_F(ProxyTest, DownloadSignsInToTheProxy) {
    ScopedSystemProxy settings(Proxy("auth"), L"<-loopback>");
    test::ScratchDir scratch(L"proxy_download");
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(nginx_.at("http")) + L"/Setup.exe";
    struct Case {
        const wchar_t* password;
        std::vector<bool> asked;
        bool success;
        std::vector<int> errors;
    } cases[] = {
        {kPassword, {false}, true, {}},
        {L"wrong", {false, true, true}, false, {407}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.password));
        const size_t logStart = ReadAll(MEMOLINE_PROXY_DIR "/proxy.log").size();
        TWebDownloader d;
        d.HTTPKeepAliveAuthentication = true;
        std::vector<bool> asked;
        std::vector<int> errors;
        std::wstring askedFor;
        d.OnProxyLogin = [&](TObject*, const std::wstring& proxy, bool again, std::wstring& user,
                             std::wstring& password) {
            askedFor = proxy;
            asked.push_back(again);
            user = kUser;
            password = c.password;
            return true;
        };
        d.OnError = [&](TObject*, int code) { errors.push_back(code); };
        TWebDownloadItem* item = d.Items().Add();
        item->URL = url;
        item->TargetDir = scratch.Path();
        item->TargetFilename = L"Setup.exe";
        d.ThreadExecAndWait();
        EXPECT_EQ(item->Success(), c.success);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(askedFor, Proxy("auth"));  // the login form's caption names it
        EXPECT_EQ(errors, c.errors);
        EXPECT_EQ(test::ReadFileRaw(scratch / L"Setup.exe"), c.success ? "plain\n" : "");
        std::string auths;
        std::istringstream log(ReadAll(MEMOLINE_PROXY_DIR "/proxy.log").substr(logStart));
        for (std::string line; std::getline(log, line);) {
            EXPECT_EQ(line.rfind("auth GET " + Narrow(url) + " auth=", 0), 0u) << line;
            auths += (auths.empty() ? "" : " ") + line.substr(line.rfind('=') + 1);
        }
        // WinINet may send a request more than once per answer; what counts is how it ends.
        EXPECT_EQ(auths.rfind("none", 0), 0u) << auths;
        EXPECT_EQ(auths.substr(auths.rfind(' ') + 1), c.success ? "good" : "bad") << auths;
        EXPECT_EQ(auths.find(c.success ? "bad" : "good"), std::string::npos) << auths;
        test::RemoveTree(scratch / L"Setup.exe");
    }
}

// A connection dropped behind the signing-in proxy: the rest is asked for through the proxy with the
// credentials already given, and the operator is not asked again.
TEST_F(ProxyTest, DroppedDownloadResumesThroughTheSigningInProxy) {
    ScopedSystemProxy settings(Proxy("auth"), L"<-loopback>");
    test::ScratchDir scratch(L"proxy_resume");
    const std::string file = test::PatternBody(30000);
    std::vector<std::string> heads;
    test::TestHttpServer origin;
    origin.RouteHandler("/Setup.exe", [&](const std::string& head) {
        heads.push_back(head);
        test::CannedReply reply;
        reply.close = true;
        if (heads.size() == 1) {
            reply.head = "HTTP/1.1 200 OK\r\nETag: \"v1\"\r\nContent-Length: 30000\r\n\r\n";
            reply.body = file.substr(0, 10000);  // then the connection drops
        } else {
            reply.head =
                "HTTP/1.1 206 Partial Content\r\nETag: \"v1\"\r\nContent-Range: bytes 10000-29999/30000\r\n"
                "Content-Length: 20000\r\n\r\n";
            reply.body = file.substr(10000);
        }
        return reply;
    });
    TWebDownloader d;
    d.HTTPKeepAliveAuthentication = true;
    d.ResumePauses = {10, 10, 10};
    std::vector<bool> asked;
    d.OnProxyLogin = [&](TObject*, const std::wstring&, bool again, std::wstring& user, std::wstring& password) {
        asked.push_back(again);
        user = kUser;
        password = kPassword;
        return true;
    };
    TWebDownloadItem* item = d.Items().Add();
    item->URL = origin.Url("/Setup.exe");
    item->TargetDir = scratch.Path();
    item->TargetFilename = L"Setup.exe";
    d.ThreadExecAndWait();
    EXPECT_TRUE(item->Success());
    EXPECT_EQ(test::ReadFileRaw(scratch / L"Setup.exe"), file);
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(test::HeaderValue(heads[1], "Range"), "bytes=10000-");
    EXPECT_EQ(test::HeaderValue(heads[1], "If-Range"), "\"v1\"");
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked, std::vector<bool>(asked.size(), false)) << "the operator was asked again";
    EXPECT_EQ(NewLog().find("auth=bad"), std::string::npos);
}

}  // namespace
}  // namespace memoline
