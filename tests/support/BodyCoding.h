// Bodies in the codings a server may use, built for the tests: chunked, raw DEFLATE and gzip members
// whose every header flag can be chosen. No Windows code: the host lane's tests use them too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace memoline::test {

// The last chunk and the empty trailer that end a chunked body.
inline constexpr std::string_view kLastChunk = "0\r\n\r\n";

// `data` in the chunked coding, in chunks of at most `chunkSize`, ended by kLastChunk.
std::string Chunked(const std::string& data, size_t chunkSize);

struct GzipOptions {
    std::string name;     // written with FNAME when not empty
    std::string comment;  // written with FCOMMENT when not empty
    std::string extra;    // written with FEXTRA when not empty
    bool headerCrc = false;
};

std::string RawDeflate(const std::string& data);
// One gzip member of data: header, raw DEFLATE data, CRC-32 and size.
std::string Gzip(const std::string& data, const GzipOptions& options = {});

}  // namespace memoline::test
