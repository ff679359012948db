#include "http/Cookies.h"

#include <gtest/gtest.h>

namespace memoline {
namespace {

constexpr int64_t kNow = 1'800'000'000;

TEST(Cookies, ParsedWithDefaultsAndAttributes) {
    const TnetCookieList cookies = ParseResponseCookies(
        {L"HTTP/1.1 302 Found", L"Set-Cookie: sid=abc; Path=/r; Secure; Max-Age=60", L"set-cookie: plain=1",
         L"Set-Cookie2: v2=x; Domain=example.com; Port=\"80,8080\"; Discard", L"Set-Cookie: =nameless", L"X: y"},
        L"www.example.com", L"/a/b/c?q=1", kNow);
    ASSERT_EQ(cookies.size(), 3u);
    EXPECT_EQ(cookies[0].Name, L"sid");
    EXPECT_EQ(cookies[0].Value, L"abc");
    EXPECT_EQ(cookies[0].Path, L"/r");
    EXPECT_EQ(cookies[0].Domain, L".www.example.com");
    EXPECT_TRUE(cookies[0].Secure);
    EXPECT_EQ(cookies[0].ExpiresAt, kNow + 60);
    EXPECT_EQ(cookies[1].Path, L"/a/b");
    EXPECT_EQ(cookies[1].ExpiresAt, 0);
    EXPECT_EQ(cookies[2].Domain, L".example.com");
    EXPECT_EQ(cookies[2].Port, L"\"80,8080\"");
    EXPECT_TRUE(cookies[2].Discard);
}

TEST(Cookies, JarMatchesSortsAndReplaces) {
    TnetCookieManager jar;
    jar.Merge(ParseResponseCookies({L"Set-Cookie: b=1; Path=/", L"Set-Cookie: a=2; Path=/", L"Set-Cookie: a=3; Path=/x",
                                    L"Set-Cookie: s=4; Path=/; Secure", L"Set-Cookie: p=5; Path=/; Port=8080",
                                    L"Set-Cookie: o=6; Domain=other.com"},
                                   L"h.com", L"/", kNow),
              kNow);
    EXPECT_EQ(jar.CookieHeader(L"h.com", L"/x/y", 80, false, kNow), L"a=3; a=2; b=1");
    EXPECT_EQ(jar.CookieHeader(L"h.com", L"/xy", 80, false, kNow), L"a=2; b=1");
    EXPECT_EQ(jar.CookieHeader(L"sub.h.com", L"/", 443, true, kNow), L"a=2; b=1; s=4");
    EXPECT_EQ(jar.CookieHeader(L"H.COM", L"/", 8080, false, kNow), L"a=2; b=1; p=5");
    EXPECT_EQ(jar.CookieHeader(L"noth.com", L"/", 80, false, kNow), L"");

    // Same name, domain and path: replaced; an expired one removes it.
    jar.Merge(ParseResponseCookies({L"Set-Cookie: B=9; Path=/", L"Set-Cookie: a=0; Path=/x; Max-Age=0",
                                    L"Set-Cookie: gone=1; Expires=Thu, 01 Jan 1970 00:00:10 GMT"},
                                   L"h.com", L"/", kNow),
              kNow);
    EXPECT_EQ(jar.CookieHeader(L"h.com", L"/x/y", 80, false, kNow), L"a=2; B=9");
    // A cookie that lives 60 seconds is gone after them.
    jar.Merge(ParseResponseCookies({L"Set-Cookie: t=1; Max-Age=60"}, L"h.com", L"/", kNow), kNow);
    EXPECT_EQ(jar.CookieHeader(L"h.com", L"/", 80, false, kNow + 61), L"a=2; B=9");
}

TEST(ParseHttpDate, Forms) {
    EXPECT_EQ(ParseHttpDate(L"Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
    EXPECT_EQ(ParseHttpDate(L"Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
    EXPECT_EQ(ParseHttpDate(L"Sun Nov  6 08:49:37 1994"), 784111777);
    EXPECT_EQ(ParseHttpDate(L"yesterday"), -1);
    EXPECT_EQ(ParseHttpDate(L"Sun, 32 Nov 1994 08:49:37 GMT"), -1);
}

}  // namespace
}  // namespace memoline
