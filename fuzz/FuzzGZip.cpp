// The gzip decoder on any input, in pieces, then the end of the body: it may reject the input with
// EnetZLibError only, and the pieces must give the same output and the same error (also the one of
// the end) as the input in one piece.
#include <cstdlib>
#include <string>

#include "FuzzSplit.h"
#include "http/GZipInflateStream.h"
#include "http/NetErrors.h"

using namespace memoline;

namespace {

struct Outcome {
    std::string output;
    std::wstring error;
    int code = 0;
};

Outcome Decode(const std::uint8_t* data, std::size_t size, bool whole) {
    Outcome outcome;
    TnetStringStream sink;
    try {
        TnetGZipInflateStream gzip(sink);
        if (whole) {
            gzip.Write(data + 1, size - 1);
        } else {
            fuzz::ForEachPiece(data, size, [&](const std::uint8_t* p, std::size_t n) { gzip.Write(p, n); });
        }
        gzip.Finish();
    } catch (const EnetZLibError& e) {
        outcome.error = e.Message();
        outcome.code = e.ErrorCode();
    }
    outcome.output = sink.DataString();
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Outcome whole = Decode(data, size, true);
    const Outcome split = Decode(data, size, false);
    if (whole.output != split.output || whole.error != split.error || whole.code != split.code)
        std::abort();
    return 0;
}
