// The gzip content coding (RFC 1952) removed on the way to a destination stream, with zlib's raw
// inflate doing the DEFLATE part. Input may be split at any byte. No platform code, no I/O of its own.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>

#include "http/Stream.h"

namespace memoline {

class TnetGZipInflateStream : public TnetStream {
public:
    // The destination is not owned and must outlive this stream. Throws EnetZLibError if the inflater
    // cannot be set up.
    explicit TnetGZipInflateStream(TnetStream& ADestination);
    ~TnetGZipInflateStream() override;
    TnetGZipInflateStream(const TnetGZipInflateStream&) = delete;
    TnetGZipInflateStream& operator=(const TnetGZipInflateStream&) = delete;

    // Consumes all count bytes and returns count, writing the decoded data to the destination in pieces
    // of at most 16384 bytes. Throws EnetZLibError: "Uncompressing error - invalid crc" (-103),
    // "Uncompressing error - invalid data size" (-104), "Need a dictionary" (-122), or zlib's own message
    // with zlib's code for corrupt DEFLATE data, "Uncompressing error - no gzip signature" (-106) as
    // soon as a member's first bytes are not 1F 8B 08. After a member's trailer the next bytes start
    // a new member.
    std::size_t Write(const void* buffer, std::size_t count) override;
    // The body has ended: throws "Uncompressing error - unexpected end of data" (-105) unless the last
    // member that began has reached the end of its trailer. No input at all is an empty body.
    void Finish() const;
    std::size_t Read(void*, std::size_t) override { return 0; }
    // The position is the number of compressed bytes written; moving it fails with
    // "Invalid Stream operation" (-102).
    std::int64_t Seek(std::int64_t offset, TnetSeekOrigin origin) override;

    std::int64_t TotalWritten() const { return FTotalWritten; }

private:
    enum class State {
        Header,       // collecting the 10 fixed bytes of a member header
        ExtraLength,  // collecting the 2-byte length of the extra field
        Extra,        // skipping the extra field
        FileName,     // skipping the file name up to its zero byte
        Comment,      // skipping the comment up to its zero byte
        HeaderCrc,    // skipping the 2-byte header CRC
        Content,      // inflating the compressed data
        Trailer,      // collecting the 8 bytes of CRC-32 and size after the compressed data
    };

    const char* ReadHeader(const char* p, const char* end);
    const char* Collect(const char* p, const char* end, std::size_t size);
    void EnterNextHeaderPart(State after);
    const char* Inflate(const char* p, const char* end);
    void CheckTrailer();
    void CheckSignature() const;

    TnetStream& FDestination;
    State FState = State::Header;
    std::int64_t FTotalWritten = 0;
    std::string FRawData;  // the fixed header bytes, the extra length or the trailer collected so far
    unsigned char FFlags = 0;
    std::uint32_t FSkip = 0;  // bytes of the extra field still to skip
    z_stream FInflater{};
    std::uint32_t FFileCrc = 0;
    std::uint32_t FFileSize = 0;  // modulo 2^32, as the trailer holds it
    std::unique_ptr<unsigned char[]> FOutput;
};

}  // namespace memoline
