// The PNG reader and the scaler behind the main window's picture. The test PNGs are written here, so
// every filter type and every kind of damage can be made on purpose.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ui/Pixels.h"

namespace memoline::ui {
namespace {

void Put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>(v >> shift & 0xff));
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    Put32(out, static_cast<uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    Put32(out, crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
}

std::string Header(uint32_t width, uint32_t height, int colourType, int bitDepth = 8, int interlace = 0) {
    std::string h;
    Put32(h, width);
    Put32(h, height);
    h += {static_cast<char>(bitDepth), static_cast<char>(colourType), 0, 0, static_cast<char>(interlace)};
    return h;
}

std::string Deflate(const std::string& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             static_cast<uLong>(raw.size()));
    out.resize(size);
    return out;
}

// Rows of RGB or RGBA bytes, each filtered with `filter` (0 to 4) as an encoder would.
std::string FilteredRows(const std::vector<std::vector<uint8_t>>& rows, int channels, int filter) {
    std::string out;
    for (size_t y = 0; y < rows.size(); ++y) {
        out.push_back(static_cast<char>(filter));
        const std::vector<uint8_t>& row = rows[y];
        for (size_t i = 0; i < row.size(); ++i) {
            const int a = i >= size_t(channels) ? row[i - channels] : 0;
            const int b = y ? rows[y - 1][i] : 0;
            const int c = y && i >= size_t(channels) ? rows[y - 1][i - channels] : 0;
            int predicted = 0;
            if (filter == 1)
                predicted = a;
            else if (filter == 2)
                predicted = b;
            else if (filter == 3)
                predicted = (a + b) / 2;
            else if (filter == 4) {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            out.push_back(static_cast<char>(row[i] - predicted));
        }
    }
    return out;
}

std::string Png(const std::string& header, const std::vector<std::string>& idats) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    PutChunk(png, "IHDR", header);
    for (const std::string& d : idats)
        PutChunk(png, "IDAT", d);
    PutChunk(png, "IEND", "");
    return png;
}

// A 3 x 2 RGBA picture with varied colours and alphas, so every filter has work to do.
const std::vector<std::vector<uint8_t>> kRgbaRows = {
    {255, 0, 0, 255, 0, 255, 0, 128, 10, 20, 30, 0},
    {200, 100, 50, 255, 1, 2, 3, 4, 250, 251, 252, 253},
};

std::string RgbaPng(int filter = 4) {
    return Png(Header(3, 2, 6), {Deflate(FilteredRows(kRgbaRows, 4, filter))});
}

uint32_t Expected(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    auto mul = [a](unsigned v) { return (v * a + 127) / 255; };
    return uint32_t(a) << 24 | mul(r) << 16 | mul(g) << 8 | mul(b);
}

TEST(PngReader, ReadsEveryFilterTypeToPremultipliedBgra) {
    for (int filter = 0; filter <= 4; ++filter) {
        SCOPED_TRACE(filter);
        TBitmapPixels p = DecodePng(RgbaPng(filter));
        ASSERT_EQ(p.Width, 3);
        ASSERT_EQ(p.Height, 2);
        ASSERT_EQ(p.Pixels.size(), 6u);
        for (size_t y = 0; y < 2; ++y)
            for (size_t x = 0; x < 3; ++x) {
                const uint8_t* c = &kRgbaRows[y][x * 4];
                EXPECT_EQ(p.Pixels[y * 3 + x], Expected(c[0], c[1], c[2], c[3])) << x << "," << y;
            }
    }
}

TEST(PngReader, ReadsTruecolourWithoutAlphaAsOpaque) {
    const std::vector<std::vector<uint8_t>> rows = {{255, 0, 0, 0, 0, 255}};
    TBitmapPixels p = DecodePng(Png(Header(2, 1, 2), {Deflate(FilteredRows(rows, 3, 1))}));
    ASSERT_EQ(p.Pixels.size(), 2u);
    EXPECT_EQ(p.Pixels[0], 0xFFFF0000u);
    EXPECT_EQ(p.Pixels[1], 0xFF0000FFu);
}

TEST(PngReader, ReadsImageDataSplitOverChunksAndSkipsAncillaryOnes) {
    const std::string stream = Deflate(FilteredRows(kRgbaRows, 4, 2));
    std::string png("\x89PNG\r\n\x1a\n", 8);
    PutChunk(png, "IHDR", Header(3, 2, 6));
    PutChunk(png, "tEXt", std::string("Comment\0made here", 17));
    for (size_t at = 0; at < stream.size(); at += 5)
        PutChunk(png, "IDAT", stream.substr(at, 5));
    PutChunk(png, "IEND", "");
    EXPECT_EQ(DecodePng(png).Pixels, DecodePng(RgbaPng()).Pixels);
}

TEST(PngReader, RefusesDamagedAndUnsupportedFiles) {
    const std::string good = RgbaPng();
    const std::string rows = FilteredRows(kRgbaRows, 4, 0);
    std::string badCrc = good;
    badCrc[good.size() - 20] ^= 0x40;  // a byte inside the IDAT data
    std::string badStream = Deflate(rows);
    badStream[0] = 0x79;  // not a deflate header
    std::string unknownFilter = rows;
    unknownFilter[0] = 5;
    std::string twoStreams("\x89PNG\r\n\x1a\n", 8);
    PutChunk(twoStreams, "IHDR", Header(3, 2, 6));
    PutChunk(twoStreams, "IDAT", Deflate(rows));
    PutChunk(twoStreams, "IDAT", Deflate(rows));
    PutChunk(twoStreams, "IEND", "");
    std::string splitByText("\x89PNG\r\n\x1a\n", 8);
    const std::string stream = Deflate(rows);
    PutChunk(splitByText, "IHDR", Header(3, 2, 6));
    PutChunk(splitByText, "IDAT", stream.substr(0, 4));
    PutChunk(splitByText, "tEXt", "a");
    PutChunk(splitByText, "IDAT", stream.substr(4));
    PutChunk(splitByText, "IEND", "");
    std::string unknownCritical("\x89PNG\r\n\x1a\n", 8);
    PutChunk(unknownCritical, "IHDR", Header(3, 2, 6));
    PutChunk(unknownCritical, "ABCD", "x");
    PutChunk(unknownCritical, "IDAT", stream);
    PutChunk(unknownCritical, "IEND", "");

    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"not a PNG", "not a picture"},
        {"signature only", good.substr(0, 8)},
        {"cut inside IHDR", good.substr(0, 20)},
        {"cut inside IDAT", good.substr(0, good.size() - 20)},
        {"no IEND", good.substr(0, good.size() - 12)},
        {"bad checksum", badCrc},
        {"bad zlib stream", Png(Header(3, 2, 6), {badStream})},
        {"too few rows", Png(Header(3, 3, 6), {Deflate(rows)})},
        {"too many rows", Png(Header(3, 1, 6), {Deflate(rows)})},
        {"rows too narrow", Png(Header(4, 2, 6), {Deflate(rows)})},
        {"unknown filter", Png(Header(3, 2, 6), {Deflate(unknownFilter)})},
        {"a second stream", twoStreams},
        {"bytes after the stream", Png(Header(3, 2, 6), {Deflate(rows) + "xx"})},
        {"image data split by another chunk", splitByText},
        {"unknown critical chunk", unknownCritical},
        {"zero width", Png(Header(0, 2, 6), {Deflate(rows)})},
        {"huge", Png(Header(100000, 100000, 6), {Deflate(rows)})},
        {"palette", Png(Header(3, 2, 3), {Deflate(rows)})},
        {"grey", Png(Header(3, 2, 0), {Deflate(rows)})},
        {"16 bits", Png(Header(3, 2, 6, 16), {Deflate(rows)})},
        {"interlaced", Png(Header(3, 2, 6, 8, 1), {Deflate(rows)})},
        {"no image data", Png(Header(3, 2, 6), {})},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(DecodePng(c.bytes).Pixels.empty()) << c.what;
}

TEST(PngReader, ReadsTheProgramsOwnPicture) {
    std::ifstream file(MEMOLINE_PRODUCT_PNG, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty());
    TBitmapPixels p = DecodePng(bytes);
    EXPECT_EQ(p.Width, 346);
    EXPECT_EQ(p.Height, 446);
    ASSERT_EQ(p.Pixels.size(), 346u * 446u);
    // Premultiplied: no channel exceeds its pixel's alpha.
    for (uint32_t px : p.Pixels) {
        const uint32_t a = px >> 24;
        ASSERT_LE(px >> 16 & 0xff, a);
        ASSERT_LE(px >> 8 & 0xff, a);
        ASSERT_LE(px & 0xff, a);
    }
}

TBitmapPixels Picture(int w, int h, std::vector<uint32_t> pixels) {
    return TBitmapPixels{w, h, std::move(pixels)};
}

TEST(PixelScaling, AveragesTheAreaEachTargetPixelCovers) {
    // Red and blue side by side, opaque: one pixel is their mean.
    TBitmapPixels one = ScalePixels(Picture(2, 1, {0xFFFF0000u, 0xFF0000FFu}), 1, 1);
    ASSERT_EQ(one.Pixels.size(), 1u);
    EXPECT_EQ(one.Pixels[0], 0xFF800080u);
    // A 4 x 4 checkerboard of opaque white and transparent halves to a uniform half-covered grey.
    std::vector<uint32_t> board(16);
    for (int i = 0; i < 16; ++i)
        board[size_t(i)] = ((i % 4 + i / 4) % 2) ? 0xFFFFFFFFu : 0u;
    TBitmapPixels half = ScalePixels(Picture(4, 4, board), 2, 2);
    ASSERT_EQ(half.Pixels.size(), 4u);
    for (uint32_t px : half.Pixels)
        EXPECT_EQ(px, 0x80808080u);
    // Enlarging repeats pixels; a target pixel straddling two sources blends them.
    TBitmapPixels wide = ScalePixels(Picture(2, 1, {0xFFFF0000u, 0xFF0000FFu}), 4, 2);
    ASSERT_EQ(wide.Width, 4);
    ASSERT_EQ(wide.Pixels.size(), 8u);
    EXPECT_EQ(wide.Pixels[0], 0xFFFF0000u);
    EXPECT_EQ(wide.Pixels[3], 0xFF0000FFu);
    EXPECT_EQ(wide.Pixels[4], 0xFFFF0000u);
    TBitmapPixels three = ScalePixels(Picture(2, 1, {0xFFFF0000u, 0xFF0000FFu}), 3, 1);
    EXPECT_EQ(three.Pixels[1], 0xFF800080u);
}

TEST(PixelScaling, RefusesEmptySizes) {
    const TBitmapPixels p = Picture(1, 1, {0xFFFFFFFFu});
    EXPECT_TRUE(ScalePixels(p, 0, 5).Pixels.empty());
    EXPECT_TRUE(ScalePixels(p, 5, -1).Pixels.empty());
    EXPECT_TRUE(ScalePixels(TBitmapPixels{}, 2, 2).Pixels.empty());
    EXPECT_TRUE(ScalePixels(Picture(2, 2, {1u}), 1, 1).Pixels.empty());  // fewer pixels than its size
}

}  // namespace
}  // namespace memoline::ui
