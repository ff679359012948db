#include "http/ChunkedStream.h"

#include <algorithm>
#include <cstring>

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

}  // namespace

std::size_t TnetChunkedStream::Write(const void* buffer, std::size_t count) {
    FTotalWritten += static_cast<std::int64_t>(count);
    const char* p = static_cast<const char*>(buffer);
    const char* const end = p + count;
    while (p < end && FState != State::Completed) {
        switch (FState) {
            case State::SizeDigits:
            case State::SizeRest:
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
            case State::DataEnd: {
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
                if (!lf)
                    return count;
                p = lf + 1;
                FState = State::SizeDigits;
                break;
            }
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
        if (*p == '\n') {
            StartChunk();
            return p + 1;
        }
        if (FState == State::SizeRest)
            continue;
        const int digit = HexValue(*p);
        if (digit < 0) {
            // Anything after the digits (";" extension, blanks, CR) is ignored, even if it looks hexadecimal.
            FState = State::SizeRest;
            continue;
        }
        FSizeDigitSeen = true;
        if (FChunkSizeStr.empty() && digit == 0)
            continue;  // leading zeros carry nothing
        if (FChunkSizeStr.size() == 8)
            FSizeOverflow = true;  // more than 32 bits
        else
            FChunkSizeStr += *p;
    }
    return p;
}

const char* TnetChunkedStream::SkipTrailer(const char* p, const char* end) {
    for (; p < end; ++p) {
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
    // A size line without digits or beyond 32 bits is malformed, and a malformed size line ends the body
    // at once. The proper last chunk ("0") is followed by trailer lines and an empty line: consuming them
    // leaves a kept-alive connection at the start of the next response.
    const bool malformed = !FSizeDigitSeen || FSizeOverflow;
    FChunkSize = malformed ? 0 : size;
    FChunkWritten = 0;
    FChunkSizeStr.clear();
    FSizeDigitSeen = false;
    FSizeOverflow = false;
    FTrailerLineEmpty = true;
    if (malformed)
        FState = State::Completed;
    else
        FState = FChunkSize == 0 ? State::Trailer : State::Data;
}

}  // namespace memoline
