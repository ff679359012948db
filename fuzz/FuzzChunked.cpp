// The chunk decoder on any input, in pieces: it may reject the input with EnetBodyError only, and the
// pieces must give the same output, the same end state and the same error as the input in one piece.
#include <cstdlib>
#include <string>

#include "FuzzSplit.h"
#include "http/ChunkedStream.h"
#include "http/NetErrors.h"

using namespace memoline;

namespace {

struct Outcome {
    std::string output;
    bool completed = false;
    int code = 0;
};

Outcome Decode(const std::uint8_t* data, std::size_t size, bool whole) {
    Outcome outcome;
    TnetStringStream sink;
    TnetChunkedStream decoder(sink);
    try {
        if (whole) {
            decoder.Write(data + 1, size - 1);
        } else {
            fuzz::ForEachPiece(data, size, [&](const std::uint8_t* p, std::size_t n) {
                if (decoder.Write(p, n) != n)
                    std::abort();
            });
        }
    } catch (const EnetBodyError& e) {
        outcome.code = e.ErrorCode();
    }
    outcome.output = sink.DataString();
    outcome.completed = decoder.IsCompleted();
    // A decoder that failed never reports a complete body.
    if (outcome.code != 0 && outcome.completed)
        std::abort();
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Outcome whole = Decode(data, size, true);
    const Outcome split = Decode(data, size, false);
    if (split.output != whole.output || split.completed != whole.completed || split.code != whole.code)
        std::abort();
    return 0;
}
