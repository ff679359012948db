// The chunk decoder on any input, in pieces: it must never fail and must give the same output and the
// same end state as when the input comes in one piece.
#include <cstdlib>

#include "FuzzSplit.h"
#include "http/ChunkedStream.h"

using namespace memoline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    TnetStringStream whole;
    TnetChunkedStream wholeDecoder(whole);
    wholeDecoder.Write(data + 1, size - 1);

    TnetStringStream split;
    TnetChunkedStream splitDecoder(split);
    fuzz::ForEachPiece(data, size, [&](const std::uint8_t* p, std::size_t n) {
        if (splitDecoder.Write(p, n) != n)
            std::abort();
    });
    if (split.DataString() != whole.DataString() || splitDecoder.IsCompleted() != wholeDecoder.IsCompleted())
        std::abort();
    return 0;
}
