#include "http/ResponseHeaderScanner.h"

#include <gtest/gtest.h>

#include "tests/support/SplitFeed.h"

namespace memoline {
namespace {

TEST(ParseStatusLine, Table) {
    struct Case {
        const char* block;
        const char* version;
        int status;
        const char* text;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n", "HTTP/1.1", 200, "OK"},
        {"http/1.0 404 Not Found\r\nX: y\r\n", "HTTP/1.0", 404, "Not Found"},
        {"HTTP/1.1 200\r\nA: b c\r\n", "HTTP/1.1", 200, ""},
        {"HTTP/1.1 abc OK\r\n", "HTTP/1.1", 0, "OK"},
        {"HTTP/1.1 301 Moved  Permanently \n", "HTTP/1.1", 301, "Moved  Permanently"},
        {"garbage\r\n", "GARBAGE", 0, ""},
        {"HTTP/1.1 99999999999 x\r\n", "HTTP/1.1", 0, "x"},
    };
    for (const auto& c : cases) {
        const TnetStatusLine s = ParseStatusLine(c.block);
        EXPECT_EQ(s.Version, c.version) << c.block;
        EXPECT_EQ(s.StatusCode, c.status) << c.block;
        EXPECT_EQ(s.StatusText, c.text) << c.block;
    }
}

struct ScanCase {
    const char* name;
    std::string bytes;
    bool complete;
    int status;
    std::string header;  // the accepted block
};

// Feeds the bytes cut into pieces in every way, scanning all that has come after each piece; the
// outcome must not depend on the cuts.
void CheckSplitEverywhere(const ScanCase& c) {
    for (const auto& pieces : test::Splits(c.bytes)) {
        const std::string cuts = testing::PrintToString(pieces);
        TnetResponseHeaderScanner scanner;
        std::string buffer;
        auto result = TnetResponseHeaderScanner::Result::NeedMore;
        for (const auto& piece : pieces) {
            buffer += piece;
            result = scanner.Scan(buffer);
            if (result == TnetResponseHeaderScanner::Result::Complete) {
                // Completing early is only right when what has come already holds the whole header.
                ASSERT_TRUE(c.complete) << c.name << " cut " << cuts;
                ASSERT_LE(scanner.HeaderEnd(), buffer.size()) << c.name;
            }
        }
        ASSERT_EQ(result == TnetResponseHeaderScanner::Result::Complete, c.complete) << c.name << " cut " << cuts;
        if (!c.complete)
            continue;
        EXPECT_EQ(scanner.Status().StatusCode, c.status) << c.name;
        EXPECT_EQ(buffer.substr(scanner.BlockStart(), scanner.HeaderEnd() - scanner.BlockStart()), c.header)
            << c.name << " cut " << cuts;
    }
}

TEST(ResponseHeaderScanner, SplitEverywhere) {
    const ScanCase cases[] = {
        {"CR LF", "HTTP/1.1 200 OK\r\nA: b\r\n\r\nbody", true, 200, "HTTP/1.1 200 OK\r\nA: b\r\n\r\n"},
        {"LF LF", "HTTP/1.0 302 Found\nLocation: /x\n\nbody\r\n\r\n", true, 302,
         "HTTP/1.0 302 Found\nLocation: /x\n\n"},
        {"100 blocks first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\n\r\nx",
         true, 201, "HTTP/1.1 201 Created\r\n\r\n"},
        {"status 0 is not accepted", "HTTP/1.1 OK\r\n\r\nHTTP/1.1 200 OK\r\n\r\n", false, 0, ""},
        {"unfinished", "HTTP/1.1 200 OK\r\nA: b\r\n", false, 0, ""},
        {"only a 100 block", "HTTP/1.1 100 Continue\r\n\r\n", false, 0, ""},
        {"103 Early Hints and 102 first",
         "HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n"
         "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx",
         true, 200, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n"},
        {"only a 103 block", "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n", false, 0, ""},
        {"199 is informational too", "HTTP/1.1 199 Odd\r\n\r\nHTTP/1.1 404 No\r\n\r\n", true, 404,
         "HTTP/1.1 404 No\r\n\r\n"},
    };
    for (const auto& c : cases)
        CheckSplitEverywhere(c);
}

TEST(SplitHeaderBlock, LinesWithoutTerminator) {
    EXPECT_EQ(SplitHeaderBlock("HTTP/1.1 200 OK\r\nA: \xe9\nB: c\r\n\r\n"),
              (std::vector<std::wstring>{L"HTTP/1.1 200 OK", L"A: ?", L"B: c"}));
}

}  // namespace
}  // namespace memoline
