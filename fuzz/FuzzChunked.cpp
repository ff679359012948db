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

// The end-of-stream rule: a body is whole only at the empty line that ends its trailer, so the byte
// at which the decoder first says "complete" is a line feed after a line of nothing but carriage
// returns (which the decoder passes over).
bool EndsAnEmptyLine(const std::uint8_t* data, std::size_t at) {
    if (data[at] != '\n')
        return false;
    std::size_t i = at;
    while (i > 0 && data[i - 1] == '\r')
        --i;
    return i > 0 && data[i - 1] == '\n';
}

void CheckCompletionPoint(const std::uint8_t* data, std::size_t size) {
    TnetStringStream sink;
    TnetChunkedStream decoder(sink);
    try {
        for (std::size_t i = 0; i < size; ++i) {
            decoder.Write(data + i, 1);
            if (decoder.IsCompleted()) {
                if (!EndsAnEmptyLine(data, i))
                    std::abort();
                return;
            }
        }
    } catch (const EnetBodyError&) {
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    CheckCompletionPoint(data + 1, size - 1);
    const Outcome whole = Decode(data, size, true);
    const Outcome split = Decode(data, size, false);
    if (split.output != whole.output || split.completed != whole.completed || split.code != whole.code)
        std::abort();
    return 0;
}
