// Finding the response header in the bytes read so far, and its status line. A parser only: the
// client reads, appends to its buffer and asks again. No platform code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace memoline {

struct TnetStatusLine {
    std::string Version;  // upper-cased and trimmed, such as "HTTP/1.1"
    int StatusCode = 0;   // 0 when the text after the version is not a decimal number
    std::string StatusText;
};

// The status line at the start of `block`. Only the first line is looked at, so "HTTP/1.1 200" with
// no reason text still gives 200.
TnetStatusLine ParseStatusLine(std::string_view block);

// Index just past the terminator of the header block that starts at `blockStart`: the earlier of CR LF
// CR LF and LF LF. npos when the block has not ended yet.
size_t FindHeaderEnd(std::string_view buffer, size_t blockStart);

// Tracks where the final header block starts while bytes arrive.
class TnetResponseHeaderScanner {
public:
    // States of one scan.
    enum class Result {
        NeedMore,  // no complete block that counts yet: read more and call again
        Complete,  // the header is complete: [BlockStart(), HeaderEnd()) holds it
    };

    // Call after every read with the whole buffer so far. Informational (1xx) blocks are passed over; a
    // block whose status is 0 is not accepted, so reading goes on.
    Result Scan(std::string_view buffer);

    size_t BlockStart() const { return blockStart_; }
    size_t HeaderEnd() const { return headerEnd_; }
    const TnetStatusLine& Status() const { return status_; }

private:
    size_t blockStart_ = 0;
    size_t headerEnd_ = 0;
    TnetStatusLine status_;
};

// The header block's lines, bytes decoded as US-ASCII (other bytes become "?"); line breaks are CR LF
// or LF; the empty lines of the terminator are left out.
std::vector<std::wstring> SplitHeaderBlock(std::string_view block);

}  // namespace memoline
