#include "http/UrlParser.h"

#include <gtest/gtest.h>

#include "http/NetErrors.h"
#include "http/Punycode.h"

namespace memoline {
namespace {

TEST(UrlParser, SplitsParts) {
    struct Case {
        const wchar_t* url;
        TnetUrlType type;
        const wchar_t* host;
        int port;
        const wchar_t* user;
        const wchar_t* password;
        const wchar_t* path;
        const wchar_t* extra;
        const wchar_t* target;
    } cases[] = {
        {L"https://example.com/a/b?x=1", TnetUrlType::utHTTPS, L"example.com", 443, L"", L"", L"/a/b", L"?x=1",
         L"/a/b?x=1"},
        {L"http://example.com:8080", TnetUrlType::utHTTP, L"example.com", 8080, L"", L"", L"/", L"", L"/"},
        {L"HTTP://u:p@h:81/x#frag", TnetUrlType::utHTTP, L"h", 81, L"u", L"p", L"/x", L"#frag", L"/x?%23frag"},
        {L"http://h/p?q#f", TnetUrlType::utHTTP, L"h", 80, L"", L"", L"/p", L"?q#f", L"/p?q%23f"},
        {L"http://h/a b\"<>^`{|}~[]\\", TnetUrlType::utHTTP, L"h", 80, L"", L"", L"/a b\"<>^`{|}~[]\\", L"",
         L"/a%20b%22%3C%3E%5E%60%7B%7C%7D%7E%5B%5D%5C"},
        {L"http://h/%41%zz%4", TnetUrlType::utHTTP, L"h", 80, L"", L"", L"/%41%zz%4", L"", L"/%41%25zz%254"},
        {L"localhost:8080/x", TnetUrlType::utHTTP, L"localhost", 8080, L"", L"", L"/x", L"", L"/x"},
        {L"example.com", TnetUrlType::utHTTP, L"example.com", 80, L"", L"", L"/", L"", L"/"},
        {L"http://[::1]:8443/", TnetUrlType::utHTTP, L"[::1]", 8443, L"", L"", L"/", L"", L"/"},
        {L"http://h/caf\u00e9", TnetUrlType::utHTTP, L"h", 80, L"", L"", L"/caf\u00e9", L"", L"/caf%E9"},
        {L"http://h/x?", TnetUrlType::utHTTP, L"h", 80, L"", L"", L"/x", L"?", L"/x?"},
    };
    for (const auto& c : cases) {
        TnetUrlParser url;
        ASSERT_TRUE(url.Parse(c.url, L"")) << c.url;
        EXPECT_EQ(url.UrlType(), c.type) << c.url;
        EXPECT_EQ(url.Host(), c.host) << c.url;
        EXPECT_EQ(url.Port(), c.port) << c.url;
        EXPECT_EQ(url.UserName(), c.user) << c.url;
        EXPECT_EQ(url.Password(), c.password) << c.url;
        EXPECT_EQ(url.UrlPath(), c.path) << c.url;
        EXPECT_EQ(url.Extra(), c.extra) << c.url;
        EXPECT_EQ(url.AbsolutePath(), c.target) << c.url;
    }
}

TEST(UrlParser, RejectsWhatCannotBeSplit) {
    for (const wchar_t* url : {L"http://h:99999/", L"http://h:8x/", L"http:///x", L"", L"http://[::1/",
                               L"[\u3800\u5D00\u6100:8]", L"http://[h\u00E9:1]/", L"http://[a/b]/"}) {
        TnetUrlParser parser;
        EXPECT_FALSE(parser.Parse(url, L"")) << url;
        EXPECT_EQ(parser.Host(), L"") << url;
    }
}

TEST(UrlParser, AbsoluteUriRebuildsTheUrl) {
    TnetUrlParser url;
    ASSERT_TRUE(url.Parse(L"https://h:443/a b?x#y z", L""));
    EXPECT_EQ(url.AbsoluteUri(), L"https://h/a%20b?x#y%20z");
    ASSERT_TRUE(url.Parse(L"h:8080", L""));
    EXPECT_EQ(url.AbsoluteUri(), L"http://h:8080/");
}

TEST(UrlParser, IdnHostBecomesPunycode) {
    TnetUrlParser url;
    ASSERT_TRUE(url.Parse(L"https://www.b\u00fccher.de/x", L""));
    EXPECT_EQ(url.Host(), L"www.xn--bcher-kva.de");
    EXPECT_EQ(url.AbsoluteUri(), L"https://www.xn--bcher-kva.de/x");
}

TEST(Punycode, Rfc3492Samples) {
    struct Case {
        std::u32string input;
        const char* expected;
    } cases[] = {
        {U"b\u00fccher", "bcher-kva"},
        {U"m\u00fcnchen", "mnchen-3ya"},
        {U"\u4ed6\u4eec\u4e3a\u4ec0\u4e48\u4e0d\u8bf4\u4e2d\u6587", "ihqwcrb4cv8a8dqg056pqjye"},
        {U"3\u5e74B\u7d44\u91d1\u516b\u5148\u751f", "3B-ww4c5e180e575a65lsy2b"},
        {U"-> $1.00 <-", "-> $1.00 <--"},
        {U"\U0001F600", "e28h"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PunycodeEncode(c.input), c.expected);
}

TEST(Punycode, Failures) {
    struct Case {
        std::wstring host;
        const wchar_t* message;
    } cases[] = {
        {std::wstring(L"a") + wchar_t(0xD800) + L".de", L"Bad input value for the IDN translator"},
        {std::wstring(5000, L'a') + L"\U0010FFFF", L"Input value needs wider integers to translate"},
    };
    for (const auto& c : cases) {
        try {
            HostToAscii(c.host);
            ADD_FAILURE() << "no error";
        } catch (const EnetIdnError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
    // Through the parser as well: the error reaches the caller.
    TnetUrlParser url;
    EXPECT_THROW(url.Parse(std::wstring(L"http://") + wchar_t(0xDC00) + L"/", L""), EnetIdnError);
}

TEST(ResolveUrlReference, AsABrowserDoes) {
    const wchar_t* base = L"http://a/b/c/d;p?q";
    struct Case {
        const wchar_t* reference;
        const wchar_t* expected;
    } cases[] = {
        // RFC 3986, section 5.4.
        {L"g", L"http://a/b/c/g"},       {L"./g", L"http://a/b/c/g"},
        {L"g/", L"http://a/b/c/g/"},     {L"/g", L"http://a/g"},
        {L"//g", L"http://g"},           {L"?y", L"http://a/b/c/d;p?y"},
        {L"g?y", L"http://a/b/c/g?y"},   {L"#s", L"http://a/b/c/d;p?q#s"},
        {L"", L"http://a/b/c/d;p?q"},    {L".", L"http://a/b/c/"},
        {L"..", L"http://a/b/"},         {L"../g", L"http://a/b/g"},
        {L"../../../g", L"http://a/g"},  {L"/./g", L"http://a/g"},
        {L"g/../h", L"http://a/b/c/h"},  {L"https://x/y", L"https://x/y"},
        {L"//h:81/x", L"http://h:81/x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolveUrlReference(base, c.reference), c.expected) << c.reference;
    EXPECT_EQ(ResolveUrlReference(L"http://h", L"x"), L"http://h/x");
}

TEST(EncodeUrl, NoBytesGivesTrimmedTextWithSpacesEncoded) {
    EXPECT_EQ(EncodeUrl(L"", L""), L"");
    EXPECT_EQ(EncodeUrl(L"a\x01", L""), L"a%01");
}

}  // namespace
}  // namespace memoline
