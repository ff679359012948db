#include "http/RequestAssembly.h"

#include <gtest/gtest.h>

#include "http/UrlParser.h"

namespace memoline {
namespace {

TnetRequestHeaderSettings CatalogueSettings() {
    TnetRequestHeaderSettings s;
    s.Method = L"POST";
    s.Target = L"/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates";
    s.Host = L"updates.example";
    s.UserAgent = L"Mozilla/4.0 (compatible; Memoline Server Updates)";
    return s;
}

TEST(AssembleRequestHeader, CataloguePostInItsLineOrder) {
    TnetRequestHeaderSettings s = CatalogueSettings();
    s.BodyBytesLeft = 46;
    const TnetHeaderLines lines = AssembleRequestHeader(
        {L"Accept: */*", L"Content-Length: 46", L"Content-Type: application/x-www-form-urlencoded", L"", L""}, s);
    EXPECT_EQ(HeaderLinesToBytes(lines),
              "POST /vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates HTTP/1.1\r\n"
              "Accept: */*\r\n"
              "Content-Length: 46\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\n"
              "Accept-Encoding: gzip\r\n"
              "Host: updates.example\r\n"
              "User-Agent: Mozilla/4.0 (compatible; Memoline Server Updates)\r\n"
              "Connection: Keep-Alive\r\n"
              "\r\n");
}

TEST(AssembleRequestHeader, Variants) {
    struct Case {
        const char* name;
        TnetHeaderLines lines;
        void (*adjust)(TnetRequestHeaderSettings&);
        const char* expected;
    } cases[] = {
        {"empty form: Content-Length 0, no Content-Type",
         {L"Accept: */*"},
         [](TnetRequestHeaderSettings&) {},
         "POST /t HTTP/1.1\r\nAccept: */*\r\nAccept-Encoding: gzip\r\nHost: h\r\nUser-Agent: UA\r\n"
         "Content-Length: 0\r\nConnection: Keep-Alive\r\n\r\n"},
        {"a redirect turned the POST into a GET: length and type removed",
         {L"Accept: */*", L"Content-Length: 9", L"Content-Type: application/x-www-form-urlencoded"},
         [](TnetRequestHeaderSettings& s) { s.Method = L"GET"; },
         "GET /t HTTP/1.1\r\nAccept: */*\r\nAccept-Encoding: gzip\r\nHost: h\r\nUser-Agent: UA\r\n"
         "Connection: Keep-Alive\r\n\r\n"},
        {"an old request line and Host are replaced; given fields are kept",
         {L"GET /old HTTP/1.0", L"Host: old", L"User-Agent: Mine", L"Accept-Encoding: identity", L"Connection: close",
          L"Expect: x", L"Cookie: old=1"},
         [](TnetRequestHeaderSettings& s) {
             s.BodyBytesLeft = 3;
             s.Cookies = L"a=1; b=2";
         },
         "POST /t HTTP/1.1\r\nUser-Agent: Mine\r\nAccept-Encoding: identity\r\nConnection: close\r\nHost: h\r\n"
         "Content-Length: 3\r\nCookie: a=1; b=2\r\n\r\n"},
        {"HTTP/1.0 without caching, with 100-continue and a proxy",
         {},
         [](TnetRequestHeaderSettings& s) {
             s.Version = TnetHttpVersion::hvHttp1_0;
             s.AllowCaching = false;
             s.AllowCompression = false;
             s.Expect100Continue = true;
             s.UseProxy = true;
             s.BodyBytesLeft = 5;
         },
         "POST /t HTTP/1.0\r\nHost: h\r\nUser-Agent: UA\r\nContent-Length: 5\r\nPragma: no-cache\r\n"
         "Proxy-Connection: Keep-Alive\r\nExpect: 100-continue\r\n\r\n"},
        {"no keep-alive, no 100-continue without a body, non-ASCII as ?",
         {L"X-Name: caf\u00e9"},
         [](TnetRequestHeaderSettings& s) {
             s.Method = L"GET";
             s.KeepConnection = false;
             s.Expect100Continue = true;
         },
         "GET /t HTTP/1.1\r\nX-Name: caf?\r\nAccept-Encoding: gzip\r\nHost: h\r\nUser-Agent: UA\r\n\r\n"},
    };
    for (const auto& c : cases) {
        TnetRequestHeaderSettings s;
        s.Method = L"POST";
        s.Target = L"/t";
        s.Host = L"h";
        s.UserAgent = L"UA";
        c.adjust(s);
        EXPECT_EQ(HeaderLinesToBytes(AssembleRequestHeader(c.lines, s)), c.expected) << c.name;
    }
}

TEST(HostFieldValue, PortsEightyAndFourFortyThreeAreNeverWritten) {
    EXPECT_EQ(HostFieldValue(L"h", 443), L"h");
    EXPECT_EQ(HostFieldValue(L"h", 80), L"h");
    EXPECT_EQ(HostFieldValue(L"h", 8080), L"h:8080");
}

// From the URL to the request line and the "Host" line, as the client assembles them.
TEST(AssembleRequestHeader, TargetAndHostFromTheUrl) {
    struct Case {
        const wchar_t* url;
        const char* requestLine;
        const char* host;
    } cases[] = {
        {L"https://updates.example/p", "POST /p HTTP/1.1", "updates.example"},
        {L"http://updates.example:8080/p", "POST /p HTTP/1.1", "updates.example:8080"},
        {L"http://updates.example:443/p", "POST /p HTTP/1.1", "updates.example"},
        {L"https://updates.example:80/p", "POST /p HTTP/1.1", "updates.example"},
        {L"updates.example/p", "POST /p HTTP/1.1", "updates.example"},
        {L"http://updates.example/p#frag", "POST /p?%23frag HTTP/1.1", "updates.example"},
        {L"https://www.b\u00fccher.de/p", "POST /p HTTP/1.1", "www.xn--bcher-kva.de"},
    };
    for (const auto& c : cases) {
        TnetUrlParser url;
        ASSERT_TRUE(url.Parse(c.url, L""));
        TnetRequestHeaderSettings s;
        s.Method = L"POST";
        s.Target = url.AbsolutePath();
        s.Host = HostFieldValue(url.Host(), url.Port());
        s.UserAgent = L"UA";
        EXPECT_EQ(HeaderLinesToBytes(AssembleRequestHeader({L"Accept: */*"}, s)),
                  std::string(c.requestLine) + "\r\nAccept: */*\r\nAccept-Encoding: gzip\r\nHost: " + c.host +
                      "\r\nUser-Agent: UA\r\nContent-Length: 0\r\nConnection: Keep-Alive\r\n\r\n");
    }
}

TEST(MayKeepConnection, Table) {
    using V = TnetHttpVersion;
    struct Case {
        bool keep;
        V request, response;
        const wchar_t* connection;
        bool expected;
    } cases[] = {
        {true, V::hvHttp1_1, V::hvHttp1_1, L"", true},
        {true, V::hvHttp1_1, V::hvHttp1_1, L"Close", false},
        {true, V::hvHttp1_1, V::hvHttp1_1, L"close, x", true},
        {true, V::hvHttp1_1, V::hvHttp1_0, L"", false},
        {true, V::hvHttp1_1, V::hvHttp1_0, L"keep-alive", true},
        {true, V::hvHttp1_0, V::hvHttp1_1, L"Keep-Alive", true},
        {false, V::hvHttp1_1, V::hvHttp1_1, L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MayKeepConnection(c.keep, c.request, c.response, c.connection), c.expected) << c.connection;
}

TEST(ExpectedBodyLength, Table) {
    using V = TnetHttpVersion;
    struct Case {
        const wchar_t* method;
        int status;
        V request, response;
        const wchar_t* length;
        int64_t expected;
    } cases[] = {
        {L"HEAD", 200, V::hvHttp1_1, V::hvHttp1_1, L"10", 0},
        {L"POST", 304, V::hvHttp1_1, V::hvHttp1_1, L"10", 0},
        {L"CONNECT", 200, V::hvHttp1_1, V::hvHttp1_1, L"", 0},
        {L"POST", 204, V::hvHttp1_1, V::hvHttp1_1, L"", 0},
        {L"POST", 204, V::hvHttp1_1, V::hvHttp1_1, L"4", 0},
        {L"POST", 101, V::hvHttp1_1, V::hvHttp1_1, L"", 0},
        {L"POST", 199, V::hvHttp1_1, V::hvHttp1_1, L"7", 0},
        {L"POST", 200, V::hvHttp1_1, V::hvHttp1_1, L" 12 ", 12},
        {L"POST", 200, V::hvHttp1_1, V::hvHttp1_1, L"x", 0},
        {L"POST", 200, V::hvHttp1_1, V::hvHttp1_1, L"", kOpenEnded},
        {L"POST", 207, V::hvHttp1_1, V::hvHttp1_1, L"", kOpenEnded},
        // An answer outside 200 to 207 without a length has a body too; it ends when the server closes.
        {L"POST", 404, V::hvHttp1_1, V::hvHttp1_1, L"", kOpenEnded},
        {L"POST", 302, V::hvHttp1_1, V::hvHttp1_1, L"", kOpenEnded},
        {L"POST", 401, V::hvHttp1_1, V::hvHttp1_1, L"9", 9},
        {L"POST", 200, V::hvHttp1_1, V::hvHttp1_0, L"", kOpenEnded},
        {L"POST", 404, V::hvHttp1_1, V::hvHttp1_0, L"", kOpenEnded},
        {L"POST", 200, V::hvHttp1_1, V::hvHttp1_0, L"3", 3},
        {L"POST", 200, V::hvHttp1_1, V::hvHttp1_1, L"12345678901234", 12345678901234},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExpectedBodyLength(c.method, c.status, c.request, c.response, c.length), c.expected)
            << c.method << " " << c.status << " '" << c.length << "'";
}

TEST(ResponseContentLength, Table) {
    const struct {
        const char* name;
        TnetHeaderLines lines;
        int64_t expected;
    } cases[] = {
        {"none", {L"HTTP/1.1 200 OK", L"Content-Type: text/plain"}, kNoContentLength},
        {"plain", {L"HTTP/1.1 200 OK", L"content-length:  12 "}, 12},
        {"zero", {L"HTTP/1.1 200 OK", L"Content-Length: 0"}, 0},
        {"beyond 32 bits", {L"HTTP/1.1 200 OK", L"Content-Length: 4294967301"}, 4294967301LL},
        {"the same twice", {L"HTTP/1.1 200 OK", L"Content-Length: 7", L"Content-Length: 7"}, 7},
        {"a list of the same", {L"HTTP/1.1 200 OK", L"Content-Length: 7, 7"}, 7},
        {"empty", {L"HTTP/1.1 200 OK", L"Content-Length:"}, kInvalidContentLength},
        {"negative", {L"HTTP/1.1 200 OK", L"Content-Length: -5"}, kInvalidContentLength},
        {"plus sign", {L"HTTP/1.1 200 OK", L"Content-Length: +5"}, kInvalidContentLength},
        {"not a number", {L"HTTP/1.1 200 OK", L"Content-Length: five"}, kInvalidContentLength},
        {"number and text", {L"HTTP/1.1 200 OK", L"Content-Length: 5 bytes"}, kInvalidContentLength},
        {"19 digits", {L"HTTP/1.1 200 OK", L"Content-Length: 1000000000000000000"}, kInvalidContentLength},
        {"two that differ", {L"HTTP/1.1 200 OK", L"Content-Length: 5", L"Content-Length: 6"}, kInvalidContentLength},
        {"a list that differs", {L"HTTP/1.1 200 OK", L"Content-Length: 5, 6"}, kInvalidContentLength},
        {"an empty item", {L"HTTP/1.1 200 OK", L"Content-Length: 5,"}, kInvalidContentLength},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResponseContentLength(c.lines), c.expected) << c.name;
}

// The assembly reads and edits fields through TnetHeaderFieldList, whose own tests cover values and
// folding; this is the client's one direct use.
TEST(HeaderFields, RemoveTakesTheFirstFieldOfAnyCaseWithItsContinuations) {
    TnetHeaderLines lines = {L"HTTP/1.1 200 OK", L"x-a: 1", L"\tcont", L"X-A: 2", L"B:  v "};
    RemoveHeaderField(lines, L"x-A");
    EXPECT_EQ(lines, (TnetHeaderLines{L"HTTP/1.1 200 OK", L"X-A: 2", L"B:  v "}));
    RemoveHeaderField(lines, L"missing");
    EXPECT_EQ(lines, (TnetHeaderLines{L"HTTP/1.1 200 OK", L"X-A: 2", L"B:  v "}));
}

}  // namespace
}  // namespace memoline
