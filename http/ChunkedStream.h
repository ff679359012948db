// The chunked transfer coding removed on the way to a destination stream. Input may be split at any
// byte. No platform code, no I/O of its own.
#pragma once

#include <cstdint>
#include <string>

#include "http/Stream.h"

namespace memoline {

class TnetChunkedStream : public TnetStream {
public:
    // The destination is not owned and must outlive this stream.
    explicit TnetChunkedStream(TnetStream& ADestination) : FDestination(ADestination) {}

    // Consumes all count bytes and returns count; passes chunk data on to the destination. Throws
    // EnetBodyError (kNetMalformedChunk) at the first byte that breaks the coding: a size line that
    // does not start with a hexadecimal digit, has more than 8 significant digits, holds anything but
    // blanks before its ";" extension, or is longer than 4096 bytes; anything but CR before the LF
    // after a chunk's data; trailer lines of more than 65536 bytes in all.
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::size_t Read(void*, std::size_t) override { return 0; }
    // The position is the number of bytes written; seeking anywhere else is ignored.
    std::int64_t Seek(std::int64_t, TnetSeekOrigin) override { return FTotalWritten; }

    // The last chunk and the empty line after it (and any trailer lines) have been seen: the body is
    // complete and further input is ignored.
    bool IsCompleted() const { return FState == State::Completed; }
    std::int64_t TotalWritten() const { return FTotalWritten; }

private:
    enum class State {
        SizeDigits,     // reading the hexadecimal digits at the start of a size line
        SizeBlank,      // after the digits: blanks or CR up to a ";" or the LF
        SizeExtension,  // skipping a ";" extension up to the LF
        Data,           // passing the chunk's data on
        DataEnd,        // skipping the CR LF after the chunk's data, up to the LF
        Trailer,        // after the last (zero-size) chunk: skipping trailer lines up to the empty line
        Completed,      // the body is complete; further input is ignored
    };

    const char* ReadSizeLine(const char* p, const char* end);
    void TakeSizeByte(char c);
    const char* SkipTrailer(const char* p, const char* end);
    void StartChunk();

    TnetStream& FDestination;
    State FState = State::SizeDigits;
    std::int64_t FTotalWritten = 0;
    std::string FChunkSizeStr;  // the significant digits of the current size line
    bool FSizeDigitSeen = false;
    std::uint32_t FLineBytes = 0;  // bytes of the current size line, or of all trailer lines
    std::uint32_t FChunkSize = 0;
    std::uint32_t FChunkWritten = 0;
    bool FTrailerLineEmpty = true;  // no byte but CR seen yet on the current trailer line
};

}  // namespace memoline
