#include "tests/support/BodyCoding.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

namespace memoline::test {
namespace {

void AppendLittleEndian(std::string& out, unsigned long value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string Chunked(const std::string& data, size_t chunkSize) {
    std::string out;
    char size[32];
    for (size_t i = 0; i < data.size(); i += chunkSize) {
        const std::string piece = data.substr(i, chunkSize);
        std::snprintf(size, sizeof size, "%zx", piece.size());
        out += std::string(size) + "\r\n" + piece + "\r\n";
    }
    return out + std::string(kLastChunk);
}

std::string RawDeflate(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate");
    return out;
}

std::string Gzip(const std::string& data, const GzipOptions& options) {
    unsigned char flags = 0;
    if (options.headerCrc)
        flags |= 0x02;
    if (!options.extra.empty())
        flags |= 0x04;
    if (!options.name.empty())
        flags |= 0x08;
    if (!options.comment.empty())
        flags |= 0x10;
    // ID1 ID2 CM FLG, MTIME, XFL, OS (3: Unix)
    std::string out = {'\x1f', '\x8b', '\x08', static_cast<char>(flags), 1, 2, 3, 4, 0, 3};
    if (!options.extra.empty()) {
        AppendLittleEndian(out, options.extra.size(), 2);
        out += options.extra;
    }
    if (!options.name.empty())
        out += options.name + '\0';
    if (!options.comment.empty())
        out += options.comment + '\0';
    if (options.headerCrc)
        AppendLittleEndian(out, crc32(0, reinterpret_cast<const Bytef*>(out.data()), out.size()) & 0xFFFF, 2);
    out += RawDeflate(data);
    AppendLittleEndian(out, crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()), 4);
    AppendLittleEndian(out, data.size(), 4);
    return out;
}

}  // namespace memoline::test
