#include "http/GZipInflateStream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "http/ChunkedStream.h"
#include "http/NetErrors.h"
#include "tests/support/BodyCoding.h"
#include "tests/support/SplitFeed.h"

namespace memoline {
namespace {

const std::string kSmallText = "Memoline 5 server update, Memoline 5 server update, 5.9.2.117";

std::string Decode(const std::vector<std::string>& pieces) {
    TnetStringStream sink;
    TnetGZipInflateStream gzip(sink);
    for (const std::string& piece : pieces)
        EXPECT_EQ(gzip.Write(piece.data(), piece.size()), piece.size());
    return sink.DataString();
}

// Records the size of every write, so the piece limit can be checked.
class PieceSink : public TnetStringStream {
public:
    std::size_t Write(const void* buffer, std::size_t count) override {
        largest = std::max(largest, count);
        return TnetStringStream::Write(buffer, count);
    }
    std::size_t largest = 0;
};

TEST(TnetGZipInflateStream, EveryHeaderFormDecodesAtEverySplit) {
    const struct {
        const char* name;
        test::GzipOptions options;
    } cases[] = {
        {"plain header", {}},
        {"file name", {"update.exe", "", "", false}},
        {"comment", {"", "built by the vendor", "", false}},
        {"extra field", {"", "", std::string("AB\x04\0\0\x01\0\x02", 8), false}},
        {"header CRC", {"", "", "", true}},
        {"everything", {"update.exe", "a comment", "XY\x02\0zz", true}},
    };
    for (const auto& c : cases) {
        const std::string member = test::Gzip(kSmallText, c.options);
        for (const auto& pieces : test::Splits(member))
            ASSERT_EQ(Decode(pieces), kSmallText) << c.name;
    }
}

TEST(TnetGZipInflateStream, TwoMembersInSequenceAtEverySplit) {
    const std::string body = test::Gzip("first|", {"a", "", "", false}) + test::Gzip("second", {});
    for (const auto& pieces : test::Splits(body))
        ASSERT_EQ(Decode(pieces), "first|second");
}

TEST(TnetGZipInflateStream, EmptyMemberGivesNothing) {
    EXPECT_EQ(Decode({test::Gzip("")}), "");
}

TEST(TnetGZipInflateStream, LargeBodyComesOutInPiecesOfAtMost16K) {
    std::string data;
    for (int i = 0; data.size() < 300000; ++i)
        data += std::to_string(i * 7919 % 100003) + ",";
    const std::string member = test::Gzip(data);
    PieceSink sink;
    TnetGZipInflateStream gzip(sink);
    for (std::size_t at = 0; at < member.size(); at += 8192)
        gzip.Write(member.data() + at, std::min<std::size_t>(8192, member.size() - at));
    EXPECT_EQ(sink.DataString(), data);
    EXPECT_LE(sink.largest, 16384u);
    EXPECT_EQ(gzip.TotalWritten(), static_cast<std::int64_t>(member.size()));
}

struct FailureCase {
    const char* name;
    std::string body;
    std::wstring message;
    int code;
    std::string writtenBefore;  // what the destination holds when the error comes
};

TEST(TnetGZipInflateStream, FailuresCarryTheirTextAndCode) {
    const std::string good = test::Gzip(kSmallText);
    std::string badCrc = good;
    badCrc[badCrc.size() - 8] ^= 0x01;
    std::string badSize = good;
    badSize[badSize.size() - 4] ^= 0x01;
    // A final block of type 3, which DEFLATE does not have.
    const std::string badBlock = std::string("\x1f\x8b\x08\x00\0\0\0\0\0\x03", 10) + "\x07\x00";
    // A stored block whose length and its complement disagree.
    const std::string badStored =
        std::string("\x1f\x8b\x08\x00\0\0\0\0\0\x03", 10) + std::string("\x01\x05\x00\x00\x00", 5);
    const FailureCase cases[] = {
        {"wrong CRC", badCrc, L"Uncompressing error - invalid crc", -103, kSmallText},
        {"wrong size", badSize, L"Uncompressing error - invalid data size", -104, kSmallText},
        {"invalid block type", badBlock, L"invalid block type", Z_DATA_ERROR, ""},
        {"broken stored block", badStored, L"invalid stored block lengths", Z_DATA_ERROR, ""},
    };
    for (const FailureCase& c : cases) {
        TnetStringStream sink;
        TnetGZipInflateStream gzip(sink);
        try {
            gzip.Write(c.body.data(), c.body.size());
            ADD_FAILURE() << c.name << ": no error";
        } catch (const EnetZLibError& e) {
            EXPECT_EQ(e.Message(), c.message) << c.name;
            EXPECT_EQ(e.ErrorCode(), c.code) << c.name;
        }
        EXPECT_EQ(sink.DataString(), c.writtenBefore) << c.name;
    }
}

// A member cut anywhere, also inside its trailer, is no body once the body ends; a whole member, two
// of them, or no bytes at all are.
TEST(TnetGZipInflateStream, TheEndOfTheBodyMustBeTheEndOfAMember) {
    const std::string member = test::Gzip(kSmallText, {"n", "c", "", true});
    const std::string two = member + test::Gzip("more");
    for (std::size_t cut = 0; cut <= two.size(); ++cut) {
        for (const auto& pieces : test::Splits(two.substr(0, cut))) {
            TnetStringStream sink;
            TnetGZipInflateStream gzip(sink);
            for (const std::string& piece : pieces)
                gzip.Write(piece.data(), piece.size());
            const bool whole = cut == 0 || cut == member.size() || cut == two.size();
            int code = 0;
            try {
                gzip.Finish();
            } catch (const EnetZLibError& e) {
                code = e.ErrorCode();
                ASSERT_EQ(e.Message(), L"Uncompressing error - unexpected end of data");
            }
            ASSERT_EQ(code, whole ? 0 : -105) << "cut at " << cut;
            if (pieces.size() != 3)
                break;  // every cut in two is among the three-piece splits; one pass of single bytes is enough
        }
    }
}

TEST(TnetGZipInflateStream, InputWithoutTheSignatureFailsAtOnce) {
    const std::string member = test::Gzip(kSmallText);
    const struct {
        const char* name;
        std::string body;
        std::string before;
    } cases[] = {
        {"plain text", "N;5.9.2;D;L;E\r\n", ""},
        {"second byte wrong", "\x1f\x8c", ""},
        {"not deflate", std::string("\x1f\x8b\x07\x00\0\0\0\0\0\x03", 10), ""},
        {"bytes after a member", member + "\n", kSmallText},
    };
    for (const auto& c : cases) {
        for (const auto& pieces : test::Splits(c.body)) {
            TnetStringStream sink;
            TnetGZipInflateStream gzip(sink);
            int code = 0;
            try {
                for (const std::string& piece : pieces)
                    gzip.Write(piece.data(), piece.size());
            } catch (const EnetZLibError& e) {
                code = e.ErrorCode();
                ASSERT_EQ(e.Message(), L"Uncompressing error - no gzip signature") << c.name;
            }
            ASSERT_EQ(code, -106) << c.name;
            ASSERT_EQ(sink.DataString(), c.before) << c.name;
        }
    }
}

TEST(TnetGZipInflateStream, SeekingAwayFromThePositionFails) {
    TnetStringStream sink;
    TnetGZipInflateStream gzip(sink);
    const std::string member = test::Gzip(kSmallText);
    gzip.Write(member.data(), 5);
    EXPECT_EQ(gzip.Seek(0, TnetSeekOrigin::Current), 5);
    EXPECT_EQ(gzip.Seek(5, TnetSeekOrigin::Begin), 5);
    try {
        gzip.Seek(0, TnetSeekOrigin::Begin);
        ADD_FAILURE() << "seek to the start accepted";
    } catch (const EnetZLibError& e) {
        EXPECT_EQ(e.Message(), L"Invalid Stream operation");
        EXPECT_EQ(e.ErrorCode(), -102);
    }
    char byte;
    EXPECT_EQ(gzip.Read(&byte, 1), 0u);
}

// The client's chain for a chunked, gzip-encoded body: chunked, then gzip, then the destination.
TEST(TnetGZipInflateStream, BehindTheChunkDecoderAtEverySplit) {
    const std::string member = test::Gzip(kSmallText, {"n", "", "", false});
    const std::size_t half = member.size() / 2;
    char size1[16], size2[16];
    std::snprintf(size1, sizeof size1, "%zx", half);
    std::snprintf(size2, sizeof size2, "%zX", member.size() - half);
    const std::string body = std::string(size1) + "\r\n" + member.substr(0, half) + "\r\n" + size2 + ";e=1\r\n" +
                             member.substr(half) + "\r\n0\r\n\r\n";
    for (const auto& pieces : test::Splits(body)) {
        TnetStringStream sink;
        TnetGZipInflateStream gzip(sink);
        TnetChunkedStream chunked(gzip);
        for (const std::string& piece : pieces)
            chunked.Write(piece.data(), piece.size());
        ASSERT_EQ(sink.DataString(), kSmallText);
        ASSERT_TRUE(chunked.IsCompleted());
    }
}

}  // namespace
}  // namespace memoline
