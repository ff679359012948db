// Helpers for the stream decoders' tests: every way of cutting an input into pieces, and gzip members
// built with zlib's raw deflate so each header flag can be chosen.
#pragma once

#include <string>
#include <vector>

namespace memoline::test {

// The input cut at every pair of positions (three pieces, empty pieces included), then one byte at a
// time: a decoder must give the same result for each.
std::vector<std::vector<std::string>> Splits(const std::string& input);

struct GzipOptions {
    std::string name;     // written with FNAME when not empty
    std::string comment;  // written with FCOMMENT when not empty
    std::string extra;    // written with FEXTRA when not empty
    bool headerCrc = false;
};

std::string RawDeflate(const std::string& data);
// One gzip member of data: header, raw DEFLATE data, CRC-32 and size.
std::string GzipMember(const std::string& data, const GzipOptions& options = {});

}  // namespace memoline::test
