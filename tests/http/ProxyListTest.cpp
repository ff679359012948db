// The proxy server list and the bypass list as the system stores them.
#include <gtest/gtest.h>

#include "http/ProxyList.h"

namespace memoline {
namespace {

TEST(ProxyList, SelectsTheProxyForTheScheme) {
    struct Case {
        const wchar_t* list;
        const wchar_t* scheme;
        bool found;
        const wchar_t* host;
        int port;
    } cases[] = {
        {L"127.0.0.1:3128", L"https", true, L"127.0.0.1", 3128},
        {L"127.0.0.1:3128", L"http", true, L"127.0.0.1", 3128},
        {L"proxy", L"http", true, L"proxy", 80},
        {L"http=a:1;https=b:2", L"https", true, L"b", 2},
        {L"http=a:1;https=b:2", L"HTTP", true, L"a", 1},
        {L"http=a:1 general:9", L"https", true, L"general", 9},
        {L"general:9;https=b:2", L"https", true, L"b", 2},  // the scheme's own entry wins
        {L"HTTPS=http://b:2/", L"https", true, L"b", 2},
        {L"[::1]:8080", L"http", true, L"::1", 8080},
        {L"http=a:1", L"https", false, L"", 0},
        {L"socks=s:1080", L"https", false, L"", 0},
        {L"a:99999", L"http", false, L"", 0},
        {L"a:x", L"http", false, L"", 0},
        {L"", L"http", false, L"", 0},
    };
    for (const auto& c : cases) {
        TnetProxyServer server;
        ASSERT_EQ(SelectProxyServer(c.list, c.scheme, server), c.found) << c.list << L" " << c.scheme;
        if (c.found) {
            EXPECT_EQ(server.Host, c.host) << c.list;
            EXPECT_EQ(server.Port, c.port) << c.list;
        }
    }
}

TEST(ProxyList, BypassList) {
    struct Case {
        const wchar_t* list;
        const wchar_t* host;
        bool direct;
    } cases[] = {
        {L"", L"updates.example", false},
        {L"", L"localhost", true},  // loopback goes direct ...
        {L"", L"127.0.0.1", true},
        {L"", L"[::1]", true},
        {L"<-loopback>", L"127.0.0.1", false},  // ... unless the list takes that away
        {L"<-loopback>;localhost", L"localhost", true},
        {L"<-loopback>;<local>", L"localhost", true},
        {L"<local>", L"intranet", true},
        {L"<local>", L"updates.example", false},
        {L"*.example", L"Updates.EXAMPLE", true},
        {L"*.example", L"example", false},
        {L"10.*", L"10.1.2.3", true},
        {L"10.*", L"110.1.2.3", false},
        {L"http://host.example:8080", L"host.example", true},
        {L"a.example, b.example ; c.example", L"c.example", true},
        {L"a*c", L"abbbc", true},
        {L"a*c", L"abbbd", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BypassesProxy(c.list, c.host), c.direct) << c.list << L" " << c.host;
}

}  // namespace
}  // namespace memoline
