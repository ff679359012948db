// The form-post client against loopback peers with canned replies: the exact request bytes,
// redirects, bodies, and connection reuse.
#include "http/NetHttp.h"

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>

#include <gtest/gtest.h>

#include <iostream>

#include "http/NetErrors.h"
#include "http/NetHttpAuth.h"
#include "tests/support/CannedHttpServer.h"
#include "tests/support/ScriptedPeer.h"

namespace memoline {
namespace {

using test::CannedHttpServer;
using test::CannedReply;
using test::Response;
using test::ResponseWithLength;
using Lines = std::vector<std::wstring>;

const char kUserAgent[] = "User-Agent: Mozilla/4.0 (compatible; Memoline Server Updates)\r\n";

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

CannedReply Ok(const std::string& body = "fine") {
    return {ResponseWithLength("HTTP/1.1 200 OK", {"Content-Type: text/plain"}, body)};
}

// The request line of a recorded request.
std::string RequestLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

bool HasField(const std::string& request, const std::string& name) {
    const std::string header = request.substr(0, request.find("\r\n\r\n") + 2);
    return header.find("\r\n" + name + ":") != std::string::npos;
}

std::string Body(const std::string& request) {
    return request.substr(request.find("\r\n\r\n") + 4);
}

// Posts the fields and returns the lines; the failure, if any, in `error`.
Lines PostTo(const std::string& url,
             const std::vector<std::pair<std::wstring, std::wstring>>& fields,
             std::wstring* error = nullptr,
             int* code = nullptr,
             TnetHttp* client = nullptr) {
    TnetHttp own;
    TnetHttp& http = client ? *client : own;
    http.TimeOut = 10000;
    TnetHttpRequest request;
    for (const auto& [name, value] : fields)
        request.AddFormField(name, value);
    Lines lines = {L"untouched"};
    try {
        http.Post(Wide(url), &request, lines);
    } catch (const EnetError& e) {
        if (!error)
            throw;
        *error = e.Message();
        if (code)
            *code = e.ErrorCode();
    }
    return lines;
}

TEST(NetHttp, TheExactRequestBytes) {
    struct Case {
        const char* name;
        std::string urlPath;  // after "127.0.0.1:<port>"
        bool withScheme;
        std::vector<std::pair<std::wstring, std::wstring>> fields;
        std::string requestLine;
        std::string entityLines;  // between "Accept: */*" and "Accept-Encoding"
        std::string body;
    } cases[] = {
        {"catalogue post",
         "/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates",
         true,
         {{L"system_password", L"M5srvUpd-7Qe2Lw9Kx4Tz8Hn3Bc6Vd"}},
         "POST /vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates HTTP/1.1",
         "Content-Length: 46\r\nContent-Type: application/x-www-form-urlencoded\r\n",
         "system_password=M5srvUpd-7Qe2Lw9Kx4Tz8Hn3Bc6Vd"},
        {"empty form", "/x", true, {}, "POST /x HTTP/1.1", "", ""},
        {"no scheme",
         "/plain",
         false,
         {{L"a", L"b c"}},
         "POST /plain HTTP/1.1",
         "Content-Length: 5\r\nContent-Type: application/x-www-form-urlencoded\r\n",
         "a=b+c"},
        {"fragment", "/p#frag ment", true, {}, "POST /p?%23frag%20ment HTTP/1.1", "", ""},
        {"query and fragment", "/p?q=1#f", true, {}, "POST /p?q=1%23f HTTP/1.1", "", ""},
    };
    for (const auto& c : cases) {
        CannedHttpServer server({{Ok()}});
        const std::string host = "127.0.0.1:" + std::to_string(server.Port());
        const std::string url = (c.withScheme ? "http://" : "") + host + c.urlPath;
        EXPECT_EQ(PostTo(url, c.fields), Lines{L"fine"}) << c.name;
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u) << c.name;
        ASSERT_EQ(requests[0].size(), 1u) << c.name;
        const std::string contentLength = c.entityLines.empty() ? "Content-Length: 0\r\n" : "";
        EXPECT_EQ(requests[0][0], c.requestLine + "\r\nAccept: */*\r\n" + c.entityLines +
                                      "Accept-Encoding: gzip\r\nHost: " + host + "\r\n" + kUserAgent + contentLength +
                                      "Connection: Keep-Alive\r\n\r\n" + c.body)
            << c.name;
    }
}

struct RedirectCase {
    const char* name;
    std::vector<std::vector<CannedReply>> connections;
    bool succeeds;
    std::string error;                      // the message of the failure
    std::vector<std::string> requestLines;  // all requests, in order
    std::vector<bool> bodies;               // whether each request carried the form
};

TEST(NetHttp, Redirects) {
    const auto redirect = [](int status, const std::string& location) {
        const std::string text = status == 301   ? "Moved Permanently"
                                 : status == 302 ? "Found"
                                 : status == 303 ? "See Other"
                                 : status == 308 ? "Permanent Redirect"
                                                 : "Temporary Redirect";
        return CannedReply{
            ResponseWithLength("HTTP/1.1 " + std::to_string(status) + " " + text, {"Location: " + location}, "moved")};
    };
    std::vector<CannedReply> fifteen(15, redirect(302, "/again"));
    fifteen.push_back(Ok());
    std::vector<CannedReply> sixteen(16, redirect(302, "/again"));
    std::vector<std::string> fifteenLines(16, "GET /again HTTP/1.1");
    fifteenLines[0] = "POST /a/b/c HTTP/1.1";
    std::vector<bool> fifteenBodies(16, false);
    fifteenBodies[0] = true;

    std::vector<RedirectCase> cases = {
        {"301 repeats the POST",
         {{redirect(301, "/new"), Ok()}},
         true,
         "",
         {"POST /a/b/c HTTP/1.1", "POST /new HTTP/1.1"},
         {true, true}},
        {"307 repeats the POST",
         {{redirect(307, "/new"), Ok()}},
         true,
         "",
         {"POST /a/b/c HTTP/1.1", "POST /new HTTP/1.1"},
         {true, true}},
        {"308 repeats the POST",
         {{redirect(308, "/new"), Ok()}},
         true,
         "",
         {"POST /a/b/c HTTP/1.1", "POST /new HTTP/1.1"},
         {true, true}},
        {"302 becomes GET",
         {{redirect(302, "/new"), Ok()}},
         true,
         "",
         {"POST /a/b/c HTTP/1.1", "GET /new HTTP/1.1"},
         {true, false}},
        {"303 becomes GET",
         {{redirect(303, "/new"), Ok()}},
         true,
         "",
         {"POST /a/b/c HTTP/1.1", "GET /new HTTP/1.1"},
         {true, false}},
        {"relative ../x",
         {{redirect(307, "../x"), Ok()}},
         true,
         "",
         {"POST /a/b/c HTTP/1.1", "POST /a/x HTTP/1.1"},
         {true, true}},
        {"relative ?q",
         {{redirect(307, "?q"), Ok()}},
         true,
         "",
         {"POST /a/b/c HTTP/1.1", "POST /a/b/c?q HTTP/1.1"},
         {true, true}},
        {"15 are followed", {fifteen}, true, "", fifteenLines, fifteenBodies},
        {"the 16th fails", {sixteen}, false, "HTTP/1.1 302 Found", {}, {}},
        {"3xx without Location fails",
         {{{ResponseWithLength("HTTP/1.1 301 Moved Permanently", {}, "nowhere")}}},
         false,
         "HTTP/1.1 301 Moved Permanently",
         {"POST /a/b/c HTTP/1.1"},
         {true}},
        {"redirect to another scheme fails",
         {{redirect(302, "ftp://127.0.0.1/x")}},
         false,
         "HTTP/1.1 302 Found",
         {"POST /a/b/c HTTP/1.1"},
         {true}},
    };
    for (const auto& c : cases) {
        CannedHttpServer server(c.connections);
        std::wstring error;
        const Lines lines = PostTo(server.Url("/a/b/c"), {{L"k", L"v"}}, &error);
        if (c.succeeds) {
            EXPECT_EQ(error, L"") << c.name;
            EXPECT_EQ(lines, Lines{L"fine"}) << c.name;
        } else {
            EXPECT_EQ(error, Wide(c.error)) << c.name;
            EXPECT_EQ(lines, Lines{L"untouched"}) << c.name;
        }
        const auto requests = server.Requests();
        if (c.requestLines.empty())
            continue;
        ASSERT_EQ(requests.size(), 1u) << c.name << ": one kept-alive connection";
        ASSERT_EQ(requests[0].size(), c.requestLines.size()) << c.name;
        for (size_t i = 0; i < c.requestLines.size(); ++i) {
            EXPECT_EQ(RequestLine(requests[0][i]), c.requestLines[i]) << c.name << " #" << i;
            EXPECT_EQ(Body(requests[0][i]), c.bodies[i] ? "k=v" : "") << c.name << " #" << i;
            EXPECT_EQ(HasField(requests[0][i], "Content-Length"), c.bodies[i]) << c.name << " #" << i;
            EXPECT_EQ(HasField(requests[0][i], "Content-Type"), c.bodies[i]) << c.name << " #" << i;
        }
    }
}

// A redirect that keeps the POST never carries the form to another server: the call fails naming
// it, and it gets nothing. One that turns the POST into a GET goes there without the form.
TEST(NetHttp, ARedirectToAnotherServerNeverCarriesTheForm) {
    struct Case {
        int status;
        bool followed;
    } cases[] = {{301, false}, {307, false}, {308, false}, {302, true}, {303, true}};
    for (const Case& c : cases) {
        CannedHttpServer second({{Ok("second")}});
        const std::string authority = "127.0.0.1:" + std::to_string(second.Port());
        // Scheme-relative: the same scheme and host, only the port differs.
        CannedHttpServer first({{{ResponseWithLength("HTTP/1.1 " + std::to_string(c.status) + " Moved",
                                                     {"Location: //" + authority + "/x"}, "")}}});
        std::wstring error;
        int code = 0;
        const Lines lines = PostTo(first.Url("/a"), {{L"k", L"v"}}, &error, &code);
        ASSERT_EQ(first.Requests().size(), 1u) << c.status;
        const auto requests = second.Requests();
        if (c.followed) {
            EXPECT_EQ(error, L"") << c.status;
            EXPECT_EQ(lines, Lines{L"second"}) << c.status;
            ASSERT_EQ(requests.size(), 1u) << c.status;
            EXPECT_EQ(RequestLine(requests[0][0]), "GET /x HTTP/1.1") << c.status;
            EXPECT_NE(requests[0][0].find("\r\nHost: " + authority + "\r\n"), std::string::npos) << c.status;
            EXPECT_EQ(Body(requests[0][0]), "") << c.status;
        } else {
            EXPECT_EQ(error, L"The update server redirected the request to another server (" + Wide(authority) +
                                 L"); it was not sent there.")
                << c.status;
            EXPECT_EQ(code, kNetRedirectElsewhere) << c.status;
            EXPECT_EQ(lines, Lines{L"untouched"}) << c.status;
            EXPECT_TRUE(requests.empty()) << c.status << ": the other server was reached";
        }
    }
}

TEST(NetHttp, CookiesSetByOneHopAreSentOnTheNext) {
    CannedHttpServer server(
        {{{ResponseWithLength("HTTP/1.1 302 Found",
                              {"Location: /next", "Set-Cookie: sid=abc; Path=/", "Set-Cookie: lang=en"}, "")},
          Ok()}});
    EXPECT_EQ(PostTo(server.Url("/start"), {{L"k", L"v"}}), Lines{L"fine"});
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests[0].size(), 2u);
    EXPECT_FALSE(HasField(requests[0][0], "Cookie"));
    EXPECT_NE(requests[0][1].find("\r\nConnection: Keep-Alive\r\nCookie: lang=en; sid=abc\r\n\r\n"), std::string::npos)
        << requests[0][1];
}

TEST(NetHttp, Bodies) {
    struct Case {
        const char* name;
        std::string reply;
        bool closeAfter;
        Lines expected;
    } cases[] = {
        {"Content-Length", ResponseWithLength("HTTP/1.1 200 OK", {}, "a\r\nb") + "extra", false, {L"a", L"b"}},
        {"chunked",
         Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, test::Chunked("one\ntwo\n", 3)),
         false,
         {L"one", L"two"}},
        {"chunked and gzip",
         Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked", "Content-Encoding: gzip"},
                  test::Chunked(test::Gzip("N;5.9.1;D;L;E\r\nM;5.9.2;D;L;E\r\n"), 7)),
         false,
         {L"N;5.9.1;D;L;E", L"M;5.9.2;D;L;E"}},
        {"gzip with length",
         ResponseWithLength("HTTP/1.1 200 OK", {"Content-Encoding: gzip"}, test::Gzip("zipped")),
         false,
         {L"zipped"}},
        {"HTTP/1.0 until close", Response("HTTP/1.0 200 OK", {}, "x\ny"), true, {L"x", L"y"}},
        {"HTTP/1.1 200 without length until close",
         Response("HTTP/1.1 200 OK", {}, "open\nended"),
         true,
         {L"open", L"ended"}},
        {"304 succeeds without body", Response("HTTP/1.1 304 Not Modified", {}), false, {L"untouched"}},
        {"a zero byte at the end is dropped",
         ResponseWithLength("HTTP/1.1 200 OK", {}, std::string("ab\0", 3)),
         false,
         {L"ab"}},
        {"a zero byte in the middle ends the text",
         ResponseWithLength("HTTP/1.1 200 OK", {}, std::string("ab\0cd\nef", 8)),
         false,
         {L"ab"}},
        {"quoted UTF-8 charset",
         ResponseWithLength("HTTP/1.1 200 OK", {"Content-Type: text/plain; charset=\"UTF-8\""}, "caf\xc3\xa9"),
         false,
         {L"caf\u00e9"}},
        {"unknown charset gives the ANSI code page",
         ResponseWithLength("HTTP/1.1 200 OK", {"Content-Type: text/plain; charset=no-such"}, "caf\xe9"),
         false,
         {L"caf\u00e9"}},
        {"the line-break table",
         ResponseWithLength("HTTP/1.1 200 OK", {}, "a\r\nb\n\nc\r"),
         false,
         {L"a", L"b", L"", L"c"}},
        {"103 Early Hints first",
         "HTTP/1.1 103 Early Hints\r\nLink: </x.css>; rel=preload\r\n\r\n" +
             ResponseWithLength("HTTP/1.1 200 OK", {}, "hinted"),
         false,
         {L"hinted"}},
        {"the same length twice", Response("HTTP/1.1 200 OK", {"Content-Length: 2, 2"}, "ok"), false, {L"ok"}},
        {"100 Continue first",
         "HTTP/1.1 100 Continue\r\n\r\n" + ResponseWithLength("HTTP/1.1 200 OK", {}, "after"),
         false,
         {L"after"}},
        {"LF LF header end", "HTTP/1.1 200 OK\nContent-Length: 2\n\nlf", false, {L"lf"}},
        {"empty body leaves the list", ResponseWithLength("HTTP/1.1 200 OK", {}, ""), false, {L"untouched"}},
    };
    for (const auto& c : cases) {
        CannedHttpServer server({{{c.reply, c.closeAfter}}});
        std::wstring error;
        EXPECT_EQ(PostTo(server.Url("/"), {}, &error), c.expected) << c.name;
        EXPECT_EQ(error, L"") << c.name;
    }
}

TEST(NetHttp, ErrorStatusRaisesWithTheStatusLineAndLeavesTheListUntouched) {
    struct Case {
        std::string reply;
        std::wstring message;
        int code;
        std::wstring text;
        bool close = false;
    } cases[] = {
        {ResponseWithLength("HTTP/1.1 404 Not Found", {}, "no such page"), L"HTTP/1.1 404 Not Found", 404,
         L"no such page"},
        // Without a length or chunks the body of any status lasts until the server closes.
        {Response("HTTP/1.1 404 Not Found", {}, "gone"), L"HTTP/1.1 404 Not Found", 404, L"gone", true},
        {Response("HTTP/1.1 404 Not Found", {"Transfer-Encoding: chunked"}, test::Chunked("not here", 3)),
         L"HTTP/1.1 404 Not Found", 404, L"not here"},
        {ResponseWithLength("HTTP/1.1 500 Internal Server Error", {}, "boom"), L"HTTP/1.1 500 Internal Server Error",
         500, L"boom"},
        {ResponseWithLength("HTTP/1.1 401 Unauthorized", {"WWW-Authenticate: Basic realm=\"x\""}, "who?"),
         L"HTTP/1.1 401 Unauthorized", 401, L"who?"},
    };
    for (const auto& c : cases) {
        CannedHttpServer server({{{c.reply, c.close}}});
        TnetHttp http;
        http.TimeOut = 10000;
        TnetHttpRequest request;
        Lines lines = {L"untouched"};
        try {
            http.Post(Wide(server.Url("/")), &request, lines);
            ADD_FAILURE() << "no error for " << c.reply;
        } catch (const EnetHttpError& e) {
            EXPECT_EQ(e.Message(), c.message);
            EXPECT_EQ(e.ErrorCode(), c.code);
            EXPECT_EQ(e.ResponseText(), c.text);
        }
        EXPECT_EQ(lines, Lines{L"untouched"});
    }
}

// Reads one request's header; the requests of these tests carry no body.
std::string ReceiveRequestHeader(SOCKET s) {
    std::string request;
    char c;
    while (request.find("\r\n\r\n") == std::string::npos && recv(s, &c, 1, 0) == 1)
        request += c;
    return request;
}

TEST(NetHttp, ARedirectsOrChallengesBodyInALaterPacketIsReadBeforeTheNextRequest) {
    struct Case {
        const char* name;
        std::string header;  // sent first; the body follows in a later packet
        std::string body;
    } cases[] = {
        {"302", "HTTP/1.1 302 Found\r\nLocation: /next\r\nTransfer-Encoding: chunked\r\n\r\n",
         test::Chunked("<html>moved or refused</html>", 8)},
        {"302 with length", "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 29\r\n\r\n",
         "<html>moved or refused</html>"},
        {"401",
         "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
         "Transfer-Encoding: chunked\r\n\r\n",
         test::Chunked("<html>moved or refused</html>", 8)},
    };
    for (const auto& c : cases) {
        // One connection only: a second request must come on the kept-alive one.
        test::ScriptedPeer peer([&](SOCKET s) {
            ReceiveRequestHeader(s);
            test::ScriptedPeer::SendAll(s, c.header);
            Sleep(150);
            test::ScriptedPeer::SendAll(s, c.body);
            ReceiveRequestHeader(s);
            test::ScriptedPeer::SendAll(s, ResponseWithLength("HTTP/1.1 200 OK", {}, "arrived"));
            test::ScriptedPeer::ReceiveUntilClose(s);
        });
        TnetHttp http;
        http.TimeOut = 3000;
        http.UserName = L"user";
        http.Password = L"pass";
        TnetHttpRequest request;
        Lines lines;
        std::wstring error;
        try {
            http.Post(Wide("http://127.0.0.1:" + std::to_string(peer.Port()) + "/first"), &request, lines);
        } catch (const EnetError& e) {
            error = e.Message();
        }
        EXPECT_EQ(error, L"") << c.name;
        EXPECT_EQ(lines, Lines{L"arrived"}) << c.name;
        http.Close();
        peer.Join();
    }
}

TEST(NetHttp, AChunkedErrorBodyInALaterPacketBecomesTheResponseText) {
    test::ScriptedPeer peer([](SOCKET s) {
        ReceiveRequestHeader(s);
        test::ScriptedPeer::SendAll(s, "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n");
        Sleep(150);
        test::ScriptedPeer::SendAll(s, test::Chunked("no such page", 5));
        test::ScriptedPeer::ReceiveUntilClose(s);
    });
    TnetHttp http;
    http.TimeOut = 3000;
    TnetHttpRequest request;
    Lines lines = {L"untouched"};
    try {
        http.Post(Wide("http://127.0.0.1:" + std::to_string(peer.Port()) + "/"), &request, lines);
        ADD_FAILURE() << "no error";
    } catch (const EnetHttpError& e) {
        EXPECT_EQ(e.ErrorCode(), 404);
        EXPECT_EQ(e.ResponseText(), L"no such page");
    }
    EXPECT_EQ(lines, Lines{L"untouched"});
    http.Close();
    peer.Join();
}

TEST(NetHttp, AQuitRequestDuringTheBodyFailsTheCallAtOnceAndStaysQueued) {
    const DWORD clientThread = GetCurrentThreadId();
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    test::ScriptedPeer peer([&](SOCKET s) {
        ReceiveRequestHeader(s);
        // No length: the body lasts until the server closes, which it does only when the test ends.
        test::ScriptedPeer::SendAll(s, "HTTP/1.1 200 OK\r\n\r\nfirst line\n");
        Sleep(150);
        PostThreadMessageW(clientThread, WM_QUIT, 7, 0);
        WaitForSingleObject(done, 10000);
    });
    TnetHttp http;
    http.TimeOut = 1500;
    TnetHttpRequest request;
    Lines lines = {L"untouched"};
    int code = 0;
    const ULONGLONG start = GetTickCount64();
    try {
        http.Post(Wide("http://127.0.0.1:" + std::to_string(peer.Port()) + "/"), &request, lines);
    } catch (const EnetSocketError& e) {
        code = e.ErrorCode();
        EXPECT_EQ(e.Message(), L"The connection to the server is not active");
    }
    const ULONGLONG elapsed = GetTickCount64() - start;
    SetEvent(done);
    EXPECT_EQ(code, -6);
    EXPECT_EQ(lines, Lines{L"untouched"});  // what arrived before the quit is no answer
    EXPECT_LT(elapsed, 1500u);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // left for the application
    EXPECT_EQ(message.wParam, 7u);
    http.Close();
    peer.Join();
    CloseHandle(done);
}

// A catalogue answer that does not arrive whole is no answer: the call fails, the list stays as it
// was, and the connection is not used again (a second call comes on a new one).
TEST(NetHttp, ABodyCutShortOrCorruptFailsAndLeavesTheListUntouched) {
    const std::string lines = "N;5.9.1;D;L;E\r\nM;5.9.2;D;L;E\r\n";
    std::string corrupt = test::Gzip(lines);
    corrupt[12] ^= 0x5A;  // inside the deflate data
    struct Case {
        const char* name;
        CannedReply reply;
        const char* kind;
    } cases[] = {
        {"length not reached",
         {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + lines.substr(0, 20), true},
         "socket"},
        {"last chunk missing",
         {Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, "10\r\n" + lines.substr(0, 16) + "\r\n"), true},
         "socket"},
        {"corrupt gzip", {ResponseWithLength("HTTP/1.1 200 OK", {"Content-Encoding: gzip"}, corrupt)}, "zlib"},
    };
    for (const auto& c : cases) {
        CannedHttpServer server({{c.reply}, {Ok()}});
        TnetHttp http;
        http.TimeOut = 5000;
        TnetHttpRequest request;
        Lines list = {L"untouched"};
        std::string kind = "none";
        try {
            http.Post(Wide(server.Url("/")), &request, list);
        } catch (const EnetZLibError&) {
            kind = "zlib";
        } catch (const EnetSocketError&) {
            kind = "socket";
        }
        EXPECT_EQ(kind, c.kind) << c.name;
        EXPECT_EQ(list, Lines{L"untouched"}) << c.name;
        EXPECT_FALSE(http.Active()) << c.name;
        EXPECT_EQ(PostTo(server.Url("/"), {}, nullptr, nullptr, &http), Lines{L"fine"}) << c.name;
        http.Close();
        const auto requests = server.Requests();
        EXPECT_EQ(requests.size(), 2u) << c.name << ": the second call reused the failed connection";
    }
}

// An answer that is not whole, or is too large, is an error that names its cause; the list stays as it
// was and the connection is not used again. The body goes out in small pieces, so the decoders meet
// it split.
TEST(NetHttp, AnAnswerIsWholeOrAnError) {
    const std::string lines = "N;5.9.1;D;L;E\r\nM;5.9.2;D;L;E\r\n";
    const std::string zipped = test::Gzip(lines);
    const std::string half = zipped.substr(0, zipped.size() / 2);
    struct Case {
        const char* name;
        std::string reply;
        bool close;
        int code;
        std::wstring message;
    } cases[] = {
        {"gzip cut in half, length matching the cut",
         ResponseWithLength("HTTP/1.1 200 OK", {"Content-Encoding: gzip"}, half), false, -105,
         L"Uncompressing error - unexpected end of data"},
        {"gzip announced, plain text sent", ResponseWithLength("HTTP/1.1 200 OK", {"Content-Encoding: gzip"}, lines),
         false, -106, L"Uncompressing error - no gzip signature"},
        {"chunk size not hexadecimal",
         Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, "zz\r\n" + lines + "\r\n0\r\n\r\n"), false,
         kNetMalformedChunk, L"The chunk size line of the response is malformed"},
        {"chunk size beyond 32 bits",
         Response("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, "100000000\r\n" + lines), true, kNetMalformedChunk,
         L"The chunk size line of the response is malformed"},
        {"negative length", Response("HTTP/1.1 200 OK", {"Content-Length: -5"}, lines), true, kNetInvalidLength,
         L"The Content-Length of the response is invalid"},
        {"non-numeric length", Response("HTTP/1.1 200 OK", {"Content-Length: many"}, lines), true, kNetInvalidLength,
         L"The Content-Length of the response is invalid"},
        {"contradictory lengths", Response("HTTP/1.1 200 OK", {"Content-Length: 30", "Content-Length: 3"}, lines), true,
         kNetInvalidLength, L"The Content-Length of the response is invalid"},
        {"body past the limit", ResponseWithLength("HTTP/1.1 200 OK", {}, std::string(5000, 'x')), false,
         kNetAnswerTooLarge, L"The response is larger than the limit"},
        {"gzip inflating past the limit",
         ResponseWithLength("HTTP/1.1 200 OK", {"Content-Encoding: gzip"}, test::Gzip(std::string(100000, 'x'))), false,
         kNetAnswerTooLarge, L"The response is larger than the limit"},
        {"endless body until close", Response("HTTP/1.1 200 OK", {}, std::string(20000, 'y')), true, kNetAnswerTooLarge,
         L"The response is larger than the limit"},
        {"too many header fields",
         Response("HTTP/1.1 200 OK", std::vector<std::string>(300, "X-A: b"), "") + "Content-Length: 0\r\n\r\n", false,
         kNetTooManyFields, L"The response header has too many fields"},
        {"header too long", "HTTP/1.1 200 OK\r\nX-A: " + std::string(70000, 'h'), true, kNetHeaderTooLong,
         L"The response header is too long"},
    };
    for (const auto& c : cases) {
        CannedReply reply{c.reply, c.close};
        reply.pieceSize = 7;
        CannedHttpServer server({{reply}, {Ok()}});
        TnetHttp http;
        http.TimeOut = 5000;
        http.MaxResponseSize = 4096;
        TnetHttpRequest request;
        Lines list = {L"untouched"};
        int code = 0;
        std::wstring message;
        try {
            http.Post(Wide(server.Url("/")), &request, list);
        } catch (const EnetError& e) {
            code = e.ErrorCode();
            message = e.Message();
        }
        EXPECT_EQ(code, c.code) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
        EXPECT_EQ(list, Lines{L"untouched"}) << c.name;
        EXPECT_FALSE(http.Active()) << c.name;
        EXPECT_EQ(PostTo(server.Url("/"), {}, nullptr, nullptr, &http), Lines{L"fine"}) << c.name;
        http.Close();
    }
}

TEST(NetHttp, BasicAnswersAChallengeWhenCredentialsAreGiven) {
    CannedHttpServer server(
        {{{ResponseWithLength("HTTP/1.1 401 Unauthorized", {"WWW-Authenticate: Basic realm=\"x\""}, "")}, Ok()}});
    {
        TnetHttp http;
        http.UserName = L"user";
        http.Password = L"pass";
        EXPECT_EQ(PostTo(server.Url("/"), {}, nullptr, nullptr, &http), Lines{L"fine"});
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests[0].size(), 2u);
    EXPECT_FALSE(HasField(requests[0][0], "Authorization"));
    EXPECT_NE(requests[0][1].find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos);
}

TEST(NetHttp, SixthChallengeFails) {
    std::vector<CannedReply> challenges(
        6, {ResponseWithLength("HTTP/1.1 401 Unauthorized", {"WWW-Authenticate: Basic realm=\"x\""}, "")});
    CannedHttpServer server({challenges});
    std::wstring error;
    {
        TnetHttp http;
        http.UserName = L"user";
        PostTo(server.Url("/"), {}, &error, nullptr, &http);
    }
    EXPECT_EQ(error, L"HTTP/1.1 401 Unauthorized");
    EXPECT_EQ(server.Requests()[0].size(), 6u);
}

// Whether this system's Negotiate package makes a first token for the logged-on user, asked of the
// system directly: under Wine it needs Samba's ntlm_auth, which the test lane does not install.
bool NegotiateMakesAToken(const wchar_t* target) {
    CredHandle credentials;
    TimeStamp expiry;
    if (AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(L"Negotiate"), SECPKG_CRED_OUTBOUND, nullptr, nullptr,
                                  nullptr, nullptr, &credentials, &expiry) != SEC_E_OK)
        return false;
    CtxtHandle context;
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    const SECURITY_STATUS status = InitializeSecurityContextW(
        &credentials, nullptr, const_cast<wchar_t*>(target), ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION, 0,
        SECURITY_NATIVE_DREP, nullptr, 0, &context, &outDesc, &attributes, &expiry);
    const bool made = (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) && out.cbBuffer > 0;
    if (out.pvBuffer)
        FreeContextBuffer(out.pvBuffer);
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)
        DeleteSecurityContext(&context);
    FreeCredentialsHandle(&credentials);
    return made;
}

// The client answers Negotiate exactly when the system's package can: with the token on a fresh
// connection, or not at all (the 401 is the error).
TEST(NetHttp, NegotiateAnswersThroughTheSecurityPackageOrNotAtAll) {
    const bool packageAnswers = NegotiateMakesAToken(L"HTTP/127.0.0.1");
    std::cout << "this system's Negotiate package " << (packageAnswers ? "makes" : "makes no") << " token\n";
    CannedHttpServer server(
        {{{ResponseWithLength("HTTP/1.1 401 Unauthorized", {"WWW-Authenticate: Negotiate"}, "")}}, {Ok()}});
    std::wstring error;
    const Lines lines = PostTo(server.Url("/"), {}, &error);
    const auto requests = server.Requests();
    if (packageAnswers) {
        EXPECT_EQ(error, L"");
        EXPECT_EQ(lines, Lines{L"fine"});
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_NE(requests[1][0].find("\r\nAuthorization: Negotiate "), std::string::npos);
    } else {
        EXPECT_EQ(error, L"HTTP/1.1 401 Unauthorized");
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].size(), 1u);
    }
}

// The scheme is the challenge's first token: a realm that reads "ntlm" does not make Basic an NTLM
// challenge, and without a user name nothing is answered at all.
TEST(NetHttp, ABasicChallengeNamingNtlmInItsRealmIsNotAnsweredAsNtlm) {
    CannedHttpServer server(
        {{{ResponseWithLength("HTTP/1.1 401 Unauthorized", {"WWW-Authenticate: Basic realm=\"ntlm negotiate\""}, "")}},
         {Ok()}});
    std::wstring error;
    PostTo(server.Url("/"), {}, &error);
    EXPECT_EQ(error, L"HTTP/1.1 401 Unauthorized");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests[0].size(), 1u);
    EXPECT_FALSE(HasField(requests[0][0], "Authorization"));
}

TEST(NetHttpAuth, TheSchemeIsTheChallengesFirstToken) {
    struct Case {
        const wchar_t* line;
        const wchar_t* scheme;
        bool found;
    } cases[] = {
        {L"Basic realm=\"ntlm\"", L"NTLM", false},
        {L"Basic realm=\"Negotiate\"", L"Negotiate", false},
        {L"NTLM", L"NTLM", true},
        {L"ntlm TlRMTVNTUAACAAAA", L"NTLM", true},
        {L"  Negotiate", L"Negotiate", true},
        {L"NegotiateX", L"Negotiate", false},
        {L"XNTLM", L"NTLM", false},
        {L"", L"NTLM", false},
    };
    for (const Case& c : cases) {
        const TnetStringList list{c.line};
        EXPECT_EQ(FindChallenge(list, c.scheme) != nullptr, c.found)
            << std::string(c.line, c.line + wcslen(c.line)) << " / " << static_cast<char>(c.scheme[0]);
    }
}

TEST(NetHttp, TwoPostsOnOneClientReuseOneConnection) {
    CannedHttpServer server({{Ok("first"), Ok("second")}});
    {
        TnetHttp http;
        EXPECT_EQ(PostTo(server.Url("/1"), {}, nullptr, nullptr, &http), Lines{L"first"});
        EXPECT_EQ(PostTo(server.Url("/2"), {}, nullptr, nullptr, &http), Lines{L"second"});
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].size(), 2u);
}

TEST(NetHttp, ConnectionCloseAndHttp10WithoutKeepAliveCloseTheConnection) {
    struct Case {
        const char* name;
        std::string reply;
        size_t connections;
    } cases[] = {
        {"Connection: close", ResponseWithLength("HTTP/1.1 200 OK", {"Connection: close"}, "x"), 2},
        {"HTTP/1.0", ResponseWithLength("HTTP/1.0 200 OK", {}, "x"), 2},
        {"HTTP/1.0 with Keep-Alive", ResponseWithLength("HTTP/1.0 200 OK", {"Connection: keep-alive"}, "x"), 1},
    };
    for (const auto& c : cases) {
        // The first connection would take a second request; a closing client opens a new one.
        CannedHttpServer server({{{c.reply}, {c.reply}}, {{c.reply}}});
        {
            TnetHttp http;
            PostTo(server.Url("/1"), {}, nullptr, nullptr, &http);
            PostTo(server.Url("/2"), {}, nullptr, nullptr, &http);
        }
        EXPECT_EQ(server.Requests().size(), c.connections) << c.name;
    }
}

TEST(NetHttp, ADroppedKeptAliveConnectionIsResentOnceOnANewOne) {
    CannedHttpServer server({{{Ok("first").head, /*close=*/true}}, {Ok("again")}});
    {
        TnetHttp http;
        EXPECT_EQ(PostTo(server.Url("/1"), {}, nullptr, nullptr, &http), Lines{L"first"});
        ASSERT_TRUE(server.WaitForClosedConnections(1));
        EXPECT_EQ(PostTo(server.Url("/2"), {{L"k", L"v"}}, nullptr, nullptr, &http), Lines{L"again"});
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    ASSERT_EQ(requests[1].size(), 1u);
    EXPECT_EQ(RequestLine(requests[1][0]), "POST /2 HTTP/1.1");
    EXPECT_EQ(Body(requests[1][0]), "k=v");
}

TEST(NetHttp, ASecondDropFails) {
    CannedReply dropped;
    dropped.drop = true;
    CannedHttpServer server({{{Ok("first").head, /*close=*/true}}, {dropped}});
    TnetHttp http;
    EXPECT_EQ(PostTo(server.Url("/1"), {}, nullptr, nullptr, &http), Lines{L"first"});
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    std::wstring error;
    int code = 0;
    EXPECT_EQ(PostTo(server.Url("/2"), {}, &error, &code, &http), Lines{L"untouched"});
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(code == 10038 || code == 10053 || code == 10054) << code;
}

TEST(NetHttp, UnparsableUrlAndUnresolvableHostFail) {
    std::wstring error;
    int code = 0;
    PostTo("http://127.0.0.1:99999/", {}, &error, &code);
    EXPECT_EQ(code, kNetInvalidUrl);
    error.clear();
    PostTo("http://a..b/", {}, &error, &code);
    EXPECT_FALSE(error.empty());
    EXPECT_GE(code, 11001);
    EXPECT_LE(code, 11004);
}

}  // namespace
}  // namespace memoline
