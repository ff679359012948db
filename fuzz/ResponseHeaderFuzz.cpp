// The response header scan: the outcome must not depend on how the bytes arrive, and the accepted
// block must lie inside the buffer and end with its terminator.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/ResponseHeaderScanner.h"

using memoline::TnetResponseHeaderScanner;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t split = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);

    TnetResponseHeaderScanner whole;
    const auto wholeResult = whole.Scan(bytes);

    TnetResponseHeaderScanner pieces;
    pieces.Scan(std::string_view(bytes).substr(0, split));
    const auto piecesResult = pieces.Scan(bytes);
    if (wholeResult != piecesResult)
        abort();
    if (wholeResult != TnetResponseHeaderScanner::Result::Complete)
        return 0;
    if (whole.BlockStart() != pieces.BlockStart() || whole.HeaderEnd() != pieces.HeaderEnd())
        abort();
    if (whole.HeaderEnd() > bytes.size() || whole.BlockStart() >= whole.HeaderEnd())
        abort();
    const std::string block = bytes.substr(whole.BlockStart(), whole.HeaderEnd() - whole.BlockStart());
    const bool endsWithLfLf = block.size() >= 2 && block.compare(block.size() - 2, 2, "\n\n") == 0;
    const bool endsWithCrLfCrLf = block.size() >= 4 && block.compare(block.size() - 4, 4, "\r\n\r\n") == 0;
    if (!endsWithLfLf && !endsWithCrLfCrLf)
        abort();
    const int status = whole.Status().StatusCode;
    if (status == 0 || status == 100)
        abort();
    memoline::SplitHeaderBlock(block);
    return 0;
}
