#include "http/ChunkedStream.h"

#include <gtest/gtest.h>

#include "http/NetErrors.h"
#include "tests/support/SplitFeed.h"

namespace memoline {
namespace {

struct ChunkCase {
    const char* name;
    std::string input;
    std::string output;
    bool completed;
};

TEST(TnetChunkedStream, EveryCaseDecodesTheSameAtEverySplit) {
    const ChunkCase cases[] = {
        {"extension after the size", "5;x=1\r\nhello\r\n0\r\n\r\n", "hello", true},
        {"upper-case size", "1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n", "abcdefghijklmnopqrstuvwxyz", true},
        {"lower-case size", "1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n", "abcdefghijklmnopqrstuvwxyz", true},
        {"several chunks, leading zeros", "3\r\nabc\r\n004\r\ndefg\r\n1\r\nh\r\n0\r\n\r\n", "abcdefgh", true},
        {"extension starting with hex characters", "3 ;abc=def\r\nxyz\r\n0\r\n\r\n", "xyz", true},
        {"data holding CR LF and digits", "6\r\n\r\n1\r\n0\r\n0\r\n\r\n", "\r\n1\r\n0", true},
        {"bare LF line ends", "2\nok\n0\n\n", "ok", true},
        {"trailer fields after the last chunk", "2\r\nok\r\n0\r\nX-Sum: 1f\r\n\r\n", "ok", true},
        {"bytes after the end are ignored", "2\r\nok\r\n0\r\n\r\nHTTP/1.1 200 OK\r\n", "ok", true},
        {"no empty line after the last chunk yet", "2\r\nok\r\n0\r\n", "ok", false},
        {"body cut inside a chunk", "a\r\n01234", "01234", false},
        {"blanks before the extension", "2 \t;x\r\nok\r\n0\r\n\r\n", "ok", true},
        {"largest 32-bit size with zeros in front", "00000000ffffffff\r\nab", "ab", false},
    };
    for (const ChunkCase& c : cases) {
        for (const auto& pieces : test::Splits(c.input)) {
            TnetStringStream sink;
            TnetChunkedStream chunked(sink);
            for (const std::string& piece : pieces)
                ASSERT_EQ(chunked.Write(piece.data(), piece.size()), piece.size());
            ASSERT_EQ(sink.DataString(), c.output) << c.name;
            ASSERT_EQ(chunked.IsCompleted(), c.completed) << c.name;
            ASSERT_EQ(chunked.TotalWritten(), static_cast<std::int64_t>(c.input.size())) << c.name;
        }
    }
}

// A broken coding is no body: the decoder fails at the byte that breaks it, whatever the split, and
// what it passed on before stays as it was.
TEST(TnetChunkedStream, MalformedCodingFailsAtEverySplit) {
    const struct {
        const char* name;
        std::string input;
        std::string before;  // what reached the destination before the failure
    } cases[] = {
        {"size line without digits", "zz\r\nabc\r\n0\r\n\r\n", ""},
        {"empty size line", "\r\nabc\r\n0\r\n\r\n", ""},
        {"blank before the digits", " 3\r\nabc\r\n0\r\n\r\n", ""},
        {"non-hexadecimal after the digits", "3x\r\nabc\r\n0\r\n\r\n", ""},
        {"digits after a blank", "3 4\r\nabc\r\n0\r\n\r\n", ""},
        {"size beyond 32 bits", "100000000\r\nabc", ""},
        {"negative size", "-3\r\nabc\r\n0\r\n\r\n", ""},
        {"size line too long", "3;" + std::string(4100, 'e') + "\r\nabc\r\n0\r\n\r\n", ""},
        {"more data than the size", "2\r\nabc\r\n0\r\n\r\n", "ab"},
        {"second size line malformed", "2\r\nok\r\ng\r\n", "ok"},
        {"endless trailer", "2\r\nok\r\n0\r\n" + std::string(70000, 't'), "ok"},
    };
    for (const auto& c : cases) {
        const auto splits =
            c.input.size() < 64 ? test::Splits(c.input) : std::vector<std::vector<std::string>>{{c.input}};
        for (const auto& pieces : splits) {
            TnetStringStream sink;
            TnetChunkedStream chunked(sink);
            int code = 0;
            try {
                for (const std::string& piece : pieces)
                    chunked.Write(piece.data(), piece.size());
            } catch (const EnetBodyError& e) {
                code = e.ErrorCode();
                ASSERT_EQ(e.Message(), L"The chunk size line of the response is malformed") << c.name;
            }
            ASSERT_EQ(code, kNetMalformedChunk) << c.name;
            ASSERT_EQ(sink.DataString(), c.before) << c.name;
            ASSERT_FALSE(chunked.IsCompleted()) << c.name;
        }
    }
}

// The data of a chunk goes straight through: a large chunk reaches the destination as the pieces came.
TEST(TnetChunkedStream, LargeChunkPassesThroughUnbuffered) {
    const std::string data(100000, 'q');
    const std::string body = "186a0\r\n" + data + "\r\n0\r\n\r\n";
    TnetStringStream sink;
    TnetChunkedStream chunked(sink);
    chunked.Write(body.data(), 7 + 4096);
    EXPECT_EQ(sink.Size(), 4096);
    chunked.Write(body.data() + 7 + 4096, body.size() - 7 - 4096);
    EXPECT_EQ(sink.DataString(), data);
    EXPECT_TRUE(chunked.IsCompleted());
}

}  // namespace
}  // namespace memoline
