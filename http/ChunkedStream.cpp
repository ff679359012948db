#include "http/ChunkedStream.h"

#include <algorithm>

#include "http/NetErrors.h"

namespace memoline {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A size line (with its extension) longer than this, or trailer lines longer than this in all, is
// refused: nothing of them is kept, but an endless one would never end the body.
constexpr std::uint32_t kMaxSizeLine = 4096;
constexpr std::uint32_t kMaxTrailer = 65536;

[[noreturn]] void ThrowMalformed() {
    throw EnetBodyError(L"The chunk size line of the response is malformed", kNetMalformedChunk);
}

}  // namespace

std::size_t TnetChunkedStream::Write(const void* buffer, std::size_t count) {
    FTotalWritten += static_cast<std::int64_t>(count);
    const char* p = static_cast<const char*>(buffer);
    const char* const end = p + count;
    while (p < end && FState != State::Completed) {
        switch (FState) {
            case State::SizeDigits:
            case State::SizeBlank:
            case State::SizeExtension:
                p = ReadSizeLine(p, end);
                break;
            case State::Data: {
                const std::size_t n = std::min<std::size_t>(end - p, FChunkSize - FChunkWritten);
                FDestination.Write(p, n);
                p += n;
                FChunkWritten += static_cast<std::uint32_t>(n);
                if (FChunkWritten == FChunkSize)
                    FState = State::DataEnd;
                break;
            }
            case State::DataEnd:
                // Only the line break may follow a chunk's data: anything else means the size was wrong.
                if (*p == '\n') {
                    FState = State::SizeDigits;
                    FLineBytes = 0;
                } else if (*p != '\r') {
                    ThrowMalformed();
                }
                ++p;
                break;
            case State::Trailer:
                p = SkipTrailer(p, end);
                break;
            case State::Completed:
                break;
        }
    }
    return count;
}

const char* TnetChunkedStream::ReadSizeLine(const char* p, const char* end) {
    for (; p < end; ++p) {
        if (++FLineBytes > kMaxSizeLine)
            ThrowMalformed();
        if (*p == '\n') {
            if (!FSizeDigitSeen)
                ThrowMalformed();
            StartChunk();
            return p + 1;
        }
        TakeSizeByte(*p);
    }
    return p;
}

void TnetChunkedStream::TakeSizeByte(char c) {
    if (FState == State::SizeExtension)
        return;
    const int digit = HexValue(c);
    if (FState == State::SizeDigits && digit >= 0) {
        FSizeDigitSeen = true;
        if (FChunkSizeStr.empty() && digit == 0)
            return;  // leading zeros carry nothing
        if (FChunkSizeStr.size() == 8)
            ThrowMalformed();  // more than 32 bits
        FChunkSizeStr += c;
        return;
    }
    // After the digits only blanks and the CR may come before an extension or the line's end.
    if (!FSizeDigitSeen)
        ThrowMalformed();
    if (c == ';')
        FState = State::SizeExtension;
    else if (c == ' ' || c == '\t' || c == '\r')
        FState = State::SizeBlank;
    else
        ThrowMalformed();
}

const char* TnetChunkedStream::SkipTrailer(const char* p, const char* end) {
    for (; p < end; ++p) {
        if (++FLineBytes > kMaxTrailer)
            ThrowMalformed();
        if (*p == '\n') {
            if (FTrailerLineEmpty) {
                FState = State::Completed;
                return p + 1;
            }
            FTrailerLineEmpty = true;
        } else if (*p != '\r') {
            FTrailerLineEmpty = false;
        }
    }
    return p;
}

void TnetChunkedStream::StartChunk() {
    std::uint32_t size = 0;
    for (const char c : FChunkSizeStr)
        size = (size << 4) | static_cast<std::uint32_t>(HexValue(c));
    // The proper last chunk ("0") is followed by trailer lines and an empty line: consuming them
    // leaves a kept-alive connection at the start of the next response.
    FChunkSize = size;
    FChunkWritten = 0;
    FChunkSizeStr.clear();
    FSizeDigitSeen = false;
    FLineBytes = 0;
    FTrailerLineEmpty = true;
    FState = FChunkSize == 0 ? State::Trailer : State::Data;
}

}  // namespace memoline
