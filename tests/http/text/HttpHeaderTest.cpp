#include "http/HttpHeader.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace memoline {
namespace {

TEST(TnetHttpResponseHeader, ParsesKnownRepeatedFoldedAndUnknownFields) {
    const TnetStringList lines = {
        L"HTTP/1.1 401 Unauthorized: login",
        L"Content-Length: 12",
        L"Content-Length: 34",
        L"WWW-Authenticate: Negotiate",
        L"www-authenticate: Basic realm=\"Memoline\"",
        L"Content-Type: text/plain;",
        L" charset=\"UTF-8\"",
        L"Set-Cookie: a=1",
        L"X-Custom:   spaced value  ",
        L"Set-Cookie: b=2",
        L"server: nginx",
        L"Location: /first",
        L"Location: /second",
        L"",
        L"Body-Line: not a header",
    };
    TnetHttpResponseHeader header;
    header.ParseHeader(lines);
    EXPECT_EQ(header.ContentLength(), L"12");
    EXPECT_EQ(header.Authenticate(), (TnetStringList{L"Negotiate", L"Basic realm=\"Memoline\""}));
    EXPECT_EQ(header.ContentType(), L"text/plain");
    EXPECT_EQ(header.CharSet(), L"UTF-8");
    EXPECT_EQ(header.Server(), L"nginx");
    EXPECT_EQ(header.Location(), L"/first");
    EXPECT_EQ(header.ExtraFields(),
              (TnetStringList{L"Set-Cookie: a=1", L"X-Custom: spaced value", L"Set-Cookie: b=2"}));

    // Parsing again starts from nothing.
    header.ParseHeader({L"HTTP/1.1 200 OK", L"Connection: close"});
    EXPECT_EQ(header.ContentLength(), L"");
    EXPECT_TRUE(header.Authenticate().empty());
    EXPECT_TRUE(header.ExtraFields().empty());
    EXPECT_EQ(header.Connection(), L"close");
}

TEST(TnetHttpRequestHeader, WritesFieldsInTheirFixedOrder) {
    TnetHttpRequestHeader header;
    header.SetConnection(L"Keep-Alive");
    header.SetUserAgent(L"Agent");
    header.SetContentType(L"multipart/form-data");
    header.SetCharSet(L"utf-8");
    header.SetBoundary(L"xyz");
    header.SetContentLength(L"10");
    header.SetHost(L"localhost");
    header.SetRange(L"bytes=0-1");
    header.SetExtraFields({L"X-One: 1"});
    TnetStringList lines;
    header.AssignHeader(lines);
    const TnetStringList expected = {
        L"Accept: */*",
        L"Range: bytes=0-1",
        L"Host: localhost",
        L"User-Agent: Agent",
        L"Content-Length: 10",
        L"Content-Type: multipart/form-data; boundary=xyz; charset=utf-8",
        L"Connection: Keep-Alive",
        L"X-One: 1",
    };
    EXPECT_EQ(lines, expected);

    // Reading the lines back gives the same fields; Clear restores the defaults.
    TnetHttpRequestHeader copy;
    copy.ParseHeader(lines);
    EXPECT_EQ(copy.Boundary(), L"xyz");
    EXPECT_EQ(copy.Range(), L"bytes=0-1");
    EXPECT_EQ(copy.ExtraFields(), TnetStringList{L"X-One: 1"});
    copy.Clear();
    TnetStringList cleared;
    copy.AssignHeader(cleared);
    EXPECT_EQ(cleared, TnetStringList{L"Accept: */*"});
}

TEST(TnetHttpResponseHeader, WritesEveryChallenge) {
    TnetHttpResponseHeader header;
    header.ParseHeader({L"WWW-Authenticate: NTLM", L"WWW-Authenticate: Basic", L"ETag: \"x\""});
    TnetStringList lines;
    header.AssignHeader(lines);
    EXPECT_EQ(lines, (TnetStringList{L"ETag: \"x\"", L"WWW-Authenticate: NTLM", L"WWW-Authenticate: Basic"}));
}

TEST(TnetHttpEntityHeader, ChangeIsSignalledOncePerBracket) {
    TnetHttpRequestHeader header;
    int changes = 0;
    header.OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &header);
        ++changes;
    };
    header.SetHost(L"a");
    EXPECT_EQ(changes, 1);
    header.SetHost(L"a");  // same value: no change
    EXPECT_EQ(changes, 1);
    header.BeginUpdate();
    header.SetHost(L"b");
    header.SetReferer(L"c");
    EXPECT_EQ(changes, 1);
    header.EndUpdate();
    EXPECT_EQ(changes, 2);
}

TEST(TnetHttpEntityHeader, KnownFieldsAreTheEntityFieldsAndTheKindsOwn) {
    const auto knows = [](const TnetHttpEntityHeader& header, const wchar_t* name) {
        const auto& names = header.KnownFields();
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    const TnetHttpRequestHeader request;
    const TnetHttpResponseHeader response;
    EXPECT_EQ(request.KnownFields().size(), 22u);
    EXPECT_EQ(response.KnownFields().size(), 23u);
    for (const auto* header :
         {static_cast<const TnetHttpEntityHeader*>(&request), static_cast<const TnetHttpEntityHeader*>(&response)}) {
        EXPECT_TRUE(knows(*header, L"content-type"));
        EXPECT_TRUE(knows(*header, L"transfer-encoding"));
    }
    EXPECT_TRUE(knows(request, L"proxy-authorization"));
    EXPECT_FALSE(knows(request, L"etag"));
    EXPECT_TRUE(knows(response, L"www-authenticate"));
    EXPECT_TRUE(knows(response, L"etag"));
    EXPECT_FALSE(knows(response, L"user-agent"));
}

}  // namespace
}  // namespace memoline
