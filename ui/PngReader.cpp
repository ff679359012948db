#include <zlib.h>

#include <cstring>
#include <optional>

#include "ui/Pixels.h"

namespace memoline::ui {
namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Larger pictures are refused rather than decoded: ours are a few hundred pixels a side.
constexpr uint32_t kMaxSide = 16384;
constexpr uint64_t kMaxPixels = uint64_t(1) << 24;

uint32_t ReadBig32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

struct TChunk {
    uint32_t Type = 0;
    std::string_view Data;
};

constexpr uint32_t ChunkType(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8 |
           uint32_t(uint8_t(name[3]));
}

// Walks the chunks after the signature, checking each one's length and checksum.
class TChunkReader {
public:
    explicit TChunkReader(std::string_view bytes) : bytes_(bytes), at_(sizeof kSignature) {}

    // The next chunk; nothing at the end of the data or when a chunk is cut short or damaged.
    std::optional<TChunk> Next() {
        if (bytes_.size() - at_ < 12)
            return std::nullopt;
        const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data()) + at_;
        const uint32_t length = ReadBig32(p);
        if (length > bytes_.size() - at_ - 12)
            return std::nullopt;
        // The checksum covers the type and the data.
        const uint32_t expected = ReadBig32(p + 8 + length);
        if (crc32(0, p + 4, static_cast<uInt>(length + 4)) != expected)
            return std::nullopt;
        at_ += 12 + size_t(length);
        return TChunk{ReadBig32(p + 4), bytes_.substr(at_ - 4 - length, length)};
    }

private:
    std::string_view bytes_;
    size_t at_;
};

struct THeader {
    uint32_t Width = 0;
    uint32_t Height = 0;
    int Channels = 0;  // 3 (RGB) or 4 (RGBA)
};

std::optional<THeader> ReadHeader(std::string_view data) {
    if (data.size() != 13)
        return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    THeader h{ReadBig32(p), ReadBig32(p + 4), 0};
    const int bitDepth = p[8], colourType = p[9], compression = p[10], filter = p[11], interlace = p[12];
    if (h.Width == 0 || h.Height == 0 || h.Width > kMaxSide || h.Height > kMaxSide ||
        uint64_t(h.Width) * h.Height > kMaxPixels)
        return std::nullopt;
    if (bitDepth != 8 || compression != 0 || filter != 0 || interlace != 0)
        return std::nullopt;
    if (colourType == 2)
        h.Channels = 3;
    else if (colourType == 6)
        h.Channels = 4;
    else
        return std::nullopt;
    return h;
}

// The zlib stream spread over the IDAT chunks, inflated into a buffer of exactly the expected size.
class TImageStream {
public:
    explicit TImageStream(size_t expectedSize) : out_(expectedSize) {
        initialized_ = ok_ = inflateInit(&z_) == Z_OK;
        z_.next_out = out_.data();
        z_.avail_out = static_cast<uInt>(out_.size());
    }
    ~TImageStream() {
        if (initialized_)
            inflateEnd(&z_);
    }
    TImageStream(const TImageStream&) = delete;
    TImageStream& operator=(const TImageStream&) = delete;

    // False once the stream is damaged or holds more than the picture.
    bool Add(std::string_view data) {
        if (!ok_)
            return false;
        if (data.empty())
            return true;
        if (ended_)
            return ok_ = false;  // image data after the end of the stream
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z_.avail_in = static_cast<uInt>(data.size());
        while (z_.avail_in > 0) {
            const int r = inflate(&z_, Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                ended_ = true;
                return ok_ = z_.avail_in == 0;
            }
            // Z_BUF_ERROR with input left means the output is full: the stream holds too much.
            if (r != Z_OK)
                return ok_ = false;
        }
        return true;
    }

    // The inflated rows, once the stream ended having filled the buffer exactly.
    std::vector<unsigned char>* Finished() { return ok_ && ended_ && z_.avail_out == 0 ? &out_ : nullptr; }

private:
    z_stream z_{};
    std::vector<unsigned char> out_;
    bool initialized_ = false;
    bool ok_ = false;
    bool ended_ = false;
};

unsigned char Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc)
        return static_cast<unsigned char>(a);
    return static_cast<unsigned char>(pb <= pc ? b : c);
}

// Undoes the row filters in place; false for an unknown filter type. One loop per filter type: the
// type is the row's, and deciding it for every byte made this the slowest step of decoding.
bool Unfilter(std::vector<unsigned char>& rows, const THeader& h) {
    const size_t stride = size_t(h.Width) * h.Channels;
    const size_t bpp = size_t(h.Channels);
    std::vector<unsigned char> zeros(stride, 0);  // the row above the first
    for (uint32_t y = 0; y < h.Height; ++y) {
        unsigned char* row = rows.data() + y * (stride + 1);
        const unsigned char* prior = y ? row - (stride + 1) + 1 : zeros.data();
        const unsigned char type = row[0];
        unsigned char* cur = row + 1;
        switch (type) {
            case 0:
                break;
            case 1:
                for (size_t i = bpp; i < stride; ++i)
                    cur[i] = static_cast<unsigned char>(cur[i] + cur[i - bpp]);
                break;
            case 2:
                for (size_t i = 0; i < stride; ++i)
                    cur[i] = static_cast<unsigned char>(cur[i] + prior[i]);
                break;
            case 3:
                for (size_t i = 0; i < bpp && i < stride; ++i)
                    cur[i] = static_cast<unsigned char>(cur[i] + prior[i] / 2);
                for (size_t i = bpp; i < stride; ++i)
                    cur[i] = static_cast<unsigned char>(cur[i] + (cur[i - bpp] + prior[i]) / 2);
                break;
            case 4:
                for (size_t i = 0; i < bpp && i < stride; ++i)
                    cur[i] = static_cast<unsigned char>(cur[i] + Paeth(0, prior[i], 0));
                for (size_t i = bpp; i < stride; ++i)
                    cur[i] = static_cast<unsigned char>(cur[i] + Paeth(cur[i - bpp], prior[i], prior[i - bpp]));
                break;
            default:
                return false;
        }
    }
    return true;
}

uint32_t Premultiplied(unsigned r, unsigned g, unsigned b, unsigned a) {
    auto mul = [a](unsigned v) { return (v * a + 127) / 255; };
    return a << 24 | mul(r) << 16 | mul(g) << 8 | mul(b);
}

TBitmapPixels ToPixels(const std::vector<unsigned char>& rows, const THeader& h) {
    TBitmapPixels result;
    result.Width = static_cast<int>(h.Width);
    result.Height = static_cast<int>(h.Height);
    result.Pixels.resize(size_t(h.Width) * h.Height);
    const size_t stride = size_t(h.Width) * h.Channels;
    for (uint32_t y = 0; y < h.Height; ++y) {
        const unsigned char* p = rows.data() + y * (stride + 1) + 1;
        uint32_t* out = result.Pixels.data() + size_t(y) * h.Width;
        for (uint32_t x = 0; x < h.Width; ++x, p += h.Channels)
            out[x] = Premultiplied(p[0], p[1], p[2], h.Channels == 4 ? p[3] : 255);
    }
    return result;
}

}  // namespace

TBitmapPixels DecodePng(std::string_view bytes) {
    if (bytes.size() < sizeof kSignature || std::memcmp(bytes.data(), kSignature, sizeof kSignature) != 0)
        return {};
    TChunkReader chunks(bytes);
    std::optional<TChunk> first = chunks.Next();
    std::optional<THeader> header;
    if (!first || first->Type != ChunkType("IHDR") || !(header = ReadHeader(first->Data)))
        return {};
    TImageStream stream(size_t(header->Height) * (size_t(header->Width) * header->Channels + 1));
    bool seenData = false, dataEnded = false;
    while (std::optional<TChunk> chunk = chunks.Next()) {
        if (chunk->Type == ChunkType("IEND")) {
            std::vector<unsigned char>* rows = stream.Finished();
            if (!rows || !Unfilter(*rows, *header))
                return {};
            return ToPixels(*rows, *header);
        }
        if (chunk->Type == ChunkType("IDAT")) {
            // The image data chunks come one after another, with nothing between them.
            if (dataEnded || !stream.Add(chunk->Data))
                return {};
            seenData = true;
            continue;
        }
        dataEnded = seenData;
        // A critical chunk (upper-case first letter) we do not know changes how the picture reads;
        // a palette is only a suggestion for truecolour pictures.
        const bool critical = (chunk->Type >> 24 & 0x20) == 0;
        if (chunk->Type == ChunkType("IHDR") || (critical && chunk->Type != ChunkType("PLTE")))
            return {};
    }
    return {};  // no IEND: cut short or damaged
}

}  // namespace memoline::ui
