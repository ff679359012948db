#include "http/GZipInflateStream.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "http/NetErrors.h"

namespace memoline {
namespace {

constexpr std::size_t kOutputPiece = 16384;
constexpr std::size_t kFixedHeaderSize = 10;
constexpr std::size_t kTrailerSize = 8;

// Header flag bits (RFC 1952, FLG).
constexpr unsigned char kFlagHeaderCrc = 0x02;
constexpr unsigned char kFlagExtra = 0x04;
constexpr unsigned char kFlagName = 0x08;
constexpr unsigned char kFlagComment = 0x10;

constexpr int kErrorInvalidOperation = -102;
constexpr int kErrorInvalidCrc = -103;
constexpr int kErrorInvalidSize = -104;
constexpr int kErrorUnexpectedEnd = -105;
constexpr int kErrorNoSignature = -106;
constexpr int kErrorNeedDictionary = -122;

// ID1, ID2 and the one compression method gzip defines (deflate).
constexpr unsigned char kSignature[] = {0x1f, 0x8b, 0x08};

std::uint32_t LittleEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

[[noreturn]] void ThrowInflaterError(const z_stream& stream, int result) {
    if (result == Z_NEED_DICT)
        throw EnetZLibError(L"Need a dictionary", kErrorNeedDictionary);
    const std::string text = stream.msg ? stream.msg : zError(result);
    throw EnetZLibError(std::wstring(text.begin(), text.end()), result);
}

}  // namespace

TnetGZipInflateStream::TnetGZipInflateStream(TnetStream& ADestination)
    : FDestination(ADestination), FOutput(new unsigned char[kOutputPiece]) {
    // Negative window bits: raw DEFLATE, the gzip framing is ours to read.
    const int result = inflateInit2(&FInflater, -MAX_WBITS);
    if (result != Z_OK)
        ThrowInflaterError(FInflater, result);
}

TnetGZipInflateStream::~TnetGZipInflateStream() {
    inflateEnd(&FInflater);
}

std::int64_t TnetGZipInflateStream::Seek(std::int64_t offset, TnetSeekOrigin origin) {
    if (offset == 0 && origin != TnetSeekOrigin::Begin)
        return FTotalWritten;
    if (origin == TnetSeekOrigin::Begin && offset == FTotalWritten)
        return FTotalWritten;
    throw EnetZLibError(L"Invalid Stream operation", kErrorInvalidOperation);
}

std::size_t TnetGZipInflateStream::Write(const void* buffer, std::size_t count) {
    FTotalWritten += static_cast<std::int64_t>(count);
    const char* p = static_cast<const char*>(buffer);
    const char* const end = p + count;
    while (p < end) {
        if (FState == State::Content) {
            p = Inflate(p, end);
        } else if (FState == State::Trailer) {
            p = Collect(p, end, kTrailerSize);
            if (FRawData.size() == kTrailerSize)
                CheckTrailer();
        } else {
            p = ReadHeader(p, end);
        }
    }
    return count;
}

// Appends bytes to FRawData until it holds size bytes.
const char* TnetGZipInflateStream::Collect(const char* p, const char* end, std::size_t size) {
    const std::size_t n = std::min<std::size_t>(end - p, size - FRawData.size());
    FRawData.append(p, n);
    return p + n;
}

// Moves to the next optional header part the flags announce after the part `after`, or to the data.
void TnetGZipInflateStream::EnterNextHeaderPart(State after) {
    FRawData.clear();
    const State order[] = {State::ExtraLength, State::FileName, State::Comment, State::HeaderCrc};
    const unsigned char flags[] = {kFlagExtra, kFlagName, kFlagComment, kFlagHeaderCrc};
    std::size_t start = 0;
    if (after == State::Extra)
        start = 1;
    else if (after == State::FileName)
        start = 2;
    else if (after == State::Comment)
        start = 3;
    else if (after == State::HeaderCrc)
        start = 4;
    for (std::size_t i = start; i < 4; ++i) {
        if (FFlags & flags[i]) {
            FState = order[i];
            return;
        }
    }
    FState = State::Content;
}

const char* TnetGZipInflateStream::ReadHeader(const char* p, const char* end) {
    switch (FState) {
        case State::Header:
            p = Collect(p, end, kFixedHeaderSize);
            CheckSignature();
            if (FRawData.size() == kFixedHeaderSize) {
                // Time, extra flags and system bytes are not tested.
                FFlags = static_cast<unsigned char>(FRawData[3]);
                EnterNextHeaderPart(State::Header);
            }
            return p;
        case State::ExtraLength:
            p = Collect(p, end, 2);
            if (FRawData.size() == 2) {
                FSkip = static_cast<unsigned char>(FRawData[0]) | (static_cast<unsigned char>(FRawData[1]) << 8);
                FRawData.clear();
                FState = State::Extra;
                if (FSkip == 0)
                    EnterNextHeaderPart(State::Extra);
            }
            return p;
        case State::Extra: {
            const std::size_t n = std::min<std::size_t>(end - p, FSkip);
            FSkip -= static_cast<std::uint32_t>(n);
            if (FSkip == 0)
                EnterNextHeaderPart(State::Extra);
            return p + n;
        }
        case State::FileName:
        case State::Comment: {
            const char* zero = static_cast<const char*>(std::memchr(p, 0, end - p));
            if (!zero)
                return end;
            EnterNextHeaderPart(FState);
            return zero + 1;
        }
        case State::HeaderCrc:
            p = Collect(p, end, 2);
            if (FRawData.size() == 2)
                EnterNextHeaderPart(State::HeaderCrc);
            return p;
        case State::Content:
        case State::Trailer:
            break;
    }
    return p;
}

const char* TnetGZipInflateStream::Inflate(const char* p, const char* end) {
    FInflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
    FInflater.avail_in = static_cast<uInt>(std::min<std::size_t>(end - p, 1u << 30));
    for (;;) {
        FInflater.next_out = FOutput.get();
        FInflater.avail_out = kOutputPiece;
        const int result = inflate(&FInflater, Z_NO_FLUSH);
        const std::size_t produced = kOutputPiece - FInflater.avail_out;
        if (produced > 0) {
            FDestination.Write(FOutput.get(), produced);
            FFileCrc = crc32(FFileCrc, FOutput.get(), static_cast<uInt>(produced));
            FFileSize += static_cast<std::uint32_t>(produced);
        }
        if (result == Z_STREAM_END) {
            // The trailer starts right after the inflater's last input byte.
            FRawData.clear();
            FState = State::Trailer;
            break;
        }
        if (result == Z_BUF_ERROR)
            break;  // no progress possible: all input taken, all output delivered
        if (result != Z_OK)
            ThrowInflaterError(FInflater, result);
        if (FInflater.avail_in == 0 && FInflater.avail_out != 0)
            break;
    }
    return reinterpret_cast<const char*>(FInflater.next_in);
}

void TnetGZipInflateStream::CheckSignature() const {
    for (std::size_t i = 0; i < FRawData.size() && i < sizeof kSignature; ++i) {
        if (static_cast<unsigned char>(FRawData[i]) != kSignature[i])
            throw EnetZLibError(L"Uncompressing error - no gzip signature", kErrorNoSignature);
    }
}

void TnetGZipInflateStream::Finish() const {
    // Between members (or before any) nothing is half read; anywhere else the body was cut short.
    if (FState != State::Header || !FRawData.empty())
        throw EnetZLibError(L"Uncompressing error - unexpected end of data", kErrorUnexpectedEnd);
}

void TnetGZipInflateStream::CheckTrailer() {
    if (LittleEndian32(FRawData, 0) != FFileCrc)
        throw EnetZLibError(L"Uncompressing error - invalid crc", kErrorInvalidCrc);
    if (LittleEndian32(FRawData, 4) != FFileSize)
        throw EnetZLibError(L"Uncompressing error - invalid data size", kErrorInvalidSize);
    // The member is complete; whatever follows starts the next one.
    inflateReset(&FInflater);
    FRawData.clear();
    FFileCrc = 0;
    FFileSize = 0;
    FState = State::Header;
}

}  // namespace memoline
