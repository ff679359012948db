#include "http/HeaderFieldList.h"

#include <gtest/gtest.h>

namespace memoline {
namespace {

TnetStringList SampleLines() {
    return {
        L"HTTP/1.1 200 OK",
        L"Content-Type: text/plain; charset=\"UTF-8\"",
        L"content-length: 12",
        L"X-Folded: first",
        L" second",
        L"\tthird",
        L"not a field line",
        L"Content-Length: 99",
        L"Empty:",
        L"",
        L"After-End: ignored",
    };
}

TEST(TnetHeaderFieldList, LooksUpValues) {
    TnetStringList lines = SampleLines();
    TnetHeaderFieldList list;
    list.Parse(1, &lines);
    EXPECT_EQ(list.HeaderEnd(), 9u);
    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } cases[] = {
        {L"CONTENT-LENGTH", L"12"},  // the first occurrence, any case
        {L"x-folded", L"first second third"},
        {L"Content-Type", L"text/plain; charset=\"UTF-8\""},
        {L"Empty", L""},
        {L"After-End", L""},  // beyond the empty line
        {L"not a field line", L""},
        {L"Missing", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(list.GetFieldValue(c.name), c.value) << c.name;
    EXPECT_TRUE(list.FieldExists(L"empty"));
    EXPECT_FALSE(list.FieldExists(L"after-end"));
}

TEST(TnetHeaderFieldList, AddsBeforeTheEndAndRemovesWithContinuations) {
    TnetStringList lines = SampleLines();
    TnetHeaderFieldList list;
    list.Parse(1, &lines);
    list.AddField(L"Host", L"localhost:8080");
    list.AddField(L"Nothing", L"");
    list.AddFieldIfNotExist(L"content-type", L"text/html");
    list.AddFieldIfNotExist(L"Accept", L"*/*");
    list.RemoveField(L"X-FOLDED");
    list.RemoveField(L"content-length");
    const TnetStringList expected = {
        L"HTTP/1.1 200 OK",
        L"Content-Type: text/plain; charset=\"UTF-8\"",
        L"not a field line",
        L"Content-Length: 99",
        L"Empty:",
        L"Host: localhost:8080",
        L"Accept: */*",
        L"",
        L"After-End: ignored",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(list.GetFieldValue(L"Content-Length"), L"99");
    EXPECT_EQ(list.HeaderEnd(), 7u);
}

TEST(TnetHeaderFieldList, AddsAtTheEndOfAListWithoutEmptyLine) {
    TnetStringList lines;
    TnetHeaderFieldList list;
    list.Parse(0, &lines);
    list.AddField(L"A", L"1");
    list.AddField(L"B", L"2");
    EXPECT_EQ(lines, (TnetStringList{L"A: 1", L"B: 2"}));
}

TEST(TnetHeaderFieldList, ValueItems) {
    const struct {
        const wchar_t* value;
        const wchar_t* item;
        const wchar_t* main;
        const wchar_t* itemValue;
    } cases[] = {
        {L"text/plain; charset=\"UTF-8\"", L"charset", L"text/plain", L"UTF-8"},
        {L"text/plain;CHARSET='koi8-r'", L"Charset", L"text/plain", L"koi8-r"},
        {L"multipart/form-data; boundary=\"a;b,c\"; charset=x", L"charset", L"multipart/form-data", L"x"},
        {L"multipart/form-data; boundary=\"a;b,c\"; charset=x", L"boundary", L"multipart/form-data", L"a;b,c"},
        {L"\"quoted;main\"; a=1", L"a", L"\"quoted;main\"", L"1"},
        {L"text/html", L"charset", L"text/html", L""},
        {L"Digest realm=\"r\", nonce=\"n\"", L"nonce", L"Digest realm=\"r\"", L"n"},
        // Quotes that do not enclose the whole value stay: stripping them changed what was written back.
        {L"a; charset=\"x; b=\"y\"", L"charset", L"a", L"\"x; b=\"y\""},
        {L"a; charset=\"x\"y", L"charset", L"a", L"\"x\"y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HeaderMainValue(c.value), c.main) << c.value;
        EXPECT_EQ(HeaderValueItem(c.value, c.item), c.itemValue) << c.value;
    }
}

TEST(TnetHeaderFieldList, AddsValueItems) {
    TnetStringList lines = {L"Content-Type: text/plain", L"X: a;"};
    TnetHeaderFieldList list;
    list.Parse(0, &lines);
    list.AddFieldValueItem(L"content-type", L"charset", L"utf-8");
    list.AddFieldValueItem(L"content-type", L"boundary", L"");
    list.AddFieldValueItem(L"x", L"b", L"2");
    list.AddFieldValueItem(L"missing", L"b", L"2");
    EXPECT_EQ(lines, (TnetStringList{L"Content-Type: text/plain; charset=utf-8", L"X: a; b=2"}));
    EXPECT_EQ(list.GetFieldValueItem(L"Content-Type", L"CharSet"), L"utf-8");
}

// Whatever an item holds, writing it and reading it back gives the same value (a value that is one
// quoted string reads back without its quotes, as on any first read).
TEST(TnetHeaderFieldList, ValueItemsReadBackAsWritten) {
    const struct {
        const wchar_t* value;
        const wchar_t* written;
        const wchar_t* readBack;
    } cases[] = {
        {L"utf-8", L"T: a; c=utf-8", L"utf-8"},
        {L"a;b,c", L"T: a; c=\"a;b,c\"", L"a;b,c"},
        {L"two words", L"T: a; c=\"two words\"", L"two words"},
        {L"say \"x\"", L"T: a; c='say \"x\"'", L"say \"x\""},
        {L"\"quoted\"", L"T: a; c=\"quoted\"", L"quoted"},
        {L"\"x; y=\"z\"", L"T: a; c='\"x; y=\"z\"'", L"\"x; y=\"z\""},
    };
    for (const auto& c : cases) {
        TnetStringList lines = {L"T: a"};
        TnetHeaderFieldList list;
        list.Parse(0, &lines);
        list.AddFieldValueItem(L"T", L"c", c.value);
        EXPECT_EQ(lines[0], c.written) << c.value;
        EXPECT_EQ(list.GetFieldValueItem(L"T", L"c"), c.readBack) << c.value;
    }
}

}  // namespace
}  // namespace memoline
