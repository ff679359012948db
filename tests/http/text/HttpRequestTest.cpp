#include "http/HttpRequest.h"

#include <gtest/gtest.h>

namespace memoline {
namespace {

std::string ReadAll(TnetStream& stream) {
    std::string out;
    char buffer[3];  // small on purpose: the body is read in several pieces
    for (std::size_t n; (n = stream.Read(buffer, sizeof buffer)) > 0;)
        out.append(buffer, n);
    return out;
}

std::string Body(TnetHttpRequest& request) {
    return ReadAll(*request.RequestStream());
}

TEST(TnetHttpRequest, EncodesFormFieldBytes) {
    const struct {
        const wchar_t* value;
        const wchar_t* charSet;
        const char* encoded;
    } cases[] = {
        {L"a b&c=d", L"", "a+b%26c%3Dd"},
        {L"~", L"", "%7E"},
        {L"*-._", L"", "*-._"},
        {L"AZaz09", L"", "AZaz09"},
        {L"!\"#$%'()+,/:;<>?@[\\]^`{|}", L"",
         "%21%22%23%24%25%27%28%29%2B%2C%2F%3A%3B%3C%3E%3F%40%5B%5C%5D%5E%60%7B%7C%7D"},
        {L"\x01\x1f\x7f", L"", "%01%1F%7F"},
        {L"\u00e9\u20ac", L"", "%E9%80"},  // in the ANSI code page (Windows-1252)
        {L"\u4e2d", L"", "%3F"},           // outside it: the code page's "?"
        {L"\u00e9\u4e2d", L"utf-8", "%C3%A9%E4%B8%AD"},
        {L"\u00e9", L"no-such-charset", "%E9"},  // unknown name: the ANSI code page
    };
    for (const auto& c : cases) {
        TnetHttpRequest request;
        request.Header().SetCharSet(c.charSet);
        request.AddFormField(L"f", c.value);
        EXPECT_EQ(Body(request), std::string("f=") + c.encoded) << c.encoded;
        EXPECT_EQ(request.TotalSize(), static_cast<std::int64_t>(2 + std::string(c.encoded).size()));
    }
}

TEST(TnetHttpRequest, TwoFieldsInOrder) {
    TnetHttpRequest request;
    request.AddFormField(L"x", L"1");
    request.AddFormField(L"y", L"2");
    EXPECT_EQ(Body(request), "x=1&y=2");
    EXPECT_EQ(request.TotalSize(), 7);
    EXPECT_TRUE(request.IsFormFieldRequest());
    EXPECT_FALSE(request.IsMultiPartContent());
    EXPECT_EQ(request.HeaderSource(), (TnetStringList{L"Accept: */*", L"Content-Length: 7",
                                                      L"Content-Type: application/x-www-form-urlencoded"}));
}

TEST(TnetHttpRequest, NoFields) {
    TnetHttpRequest request;
    EXPECT_EQ(request.Header().ContentType(), L"");
    EXPECT_EQ(request.TotalSize(), 0);
    EXPECT_EQ(Body(request), "");
    EXPECT_FALSE(request.IsFormFieldRequest());
    EXPECT_EQ(request.HeaderSource(), TnetStringList{L"Accept: */*"});
}

TEST(TnetHttpRequest, CatalogueRequestEntityLines) {
    TnetHttpRequest request;
    request.AddFormField(L"system_password", L"M5srvUpd-7Qe2Lw9Kx4Tz8Hn3Bc6Vd");
    EXPECT_EQ(Body(request), "system_password=M5srvUpd-7Qe2Lw9Kx4Tz8Hn3Bc6Vd");
    EXPECT_EQ(request.HeaderSource(), (TnetStringList{L"Accept: */*", L"Content-Length: 46",
                                                      L"Content-Type: application/x-www-form-urlencoded"}));
}

TEST(TnetHttpRequest, EveryChangeEmptiesTheCaches) {
    TnetHttpRequest request;
    TnetFormFieldRequestItem* first = request.AddFormField(L"x", L"1");
    EXPECT_EQ(request.HeaderSource()[1], L"Content-Length: 3");
    EXPECT_EQ(Body(request), "x=1");

    request.AddFormField(L"y", L"2");
    EXPECT_EQ(request.HeaderSource()[1], L"Content-Length: 7");
    EXPECT_EQ(Body(request), "x=1&y=2");

    first->SetFieldValue(L"100");
    EXPECT_EQ(request.HeaderSource()[1], L"Content-Length: 9");
    EXPECT_EQ(Body(request), "x=100&y=2");

    first->SetCanonicalized(false);
    first->SetFieldName(L"a b");
    EXPECT_EQ(Body(request), "a b=100&y=2");

    request.Header().SetUserAgent(L"Agent");
    EXPECT_EQ(request.HeaderSource()[1], L"User-Agent: Agent");

    request.Items().Clear();
    EXPECT_EQ(request.HeaderSource(), (TnetStringList{L"Accept: */*", L"User-Agent: Agent"}));
    EXPECT_EQ(request.TotalSize(), 0);
}

TEST(TnetHttpRequest, ACharsetChangeAfterTheFirstBuildReencodesTheItems) {
    TnetHttpRequest request;
    request.AddFormField(L"n", L"\u00e9");
    EXPECT_EQ(Body(request), "n=%E9");
    EXPECT_EQ(request.TotalSize(), 5);
    request.Header().SetCharSet(L"utf-8");
    EXPECT_EQ(Body(request), "n=%C3%A9");
    EXPECT_EQ(request.TotalSize(), 8);
    EXPECT_EQ(request.HeaderSource()[1], L"Content-Length: 8");
}

TEST(TnetHttpRequest, EachBodyStreamIsFreshAndIndependent) {
    TnetHttpRequest request;
    request.AddFormField(L"name", L"value");
    auto one = request.RequestStream();
    char buffer[4];
    ASSERT_EQ(one->Read(buffer, 4), 4u);
    auto two = request.RequestStream();
    EXPECT_EQ(ReadAll(*two), "name=value");
    EXPECT_EQ(ReadAll(*one), "=value");
}

TEST(TnetHttpRequest, UpdateBracketsSignalOnce) {
    TnetHttpRequest request;
    int changes = 0;
    request.OnChange = [&](TObject*) { ++changes; };
    request.BeginUpdate();
    request.AddFormField(L"a", L"1");
    request.AddFormField(L"b", L"2");
    EXPECT_EQ(changes, 0);
    request.EndUpdate();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(request.TotalSize(), 7);
}

}  // namespace
}  // namespace memoline
