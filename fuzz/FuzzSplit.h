// Cuts a fuzzer input into pieces whose sizes come from the input itself, so the fuzzer explores split
// positions along with the content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace memoline::fuzz {

// The first byte seeds the piece sizes (1 to 64 bytes, or all at once when it is 0); the rest is the
// payload handed to `piece` in order.
inline void ForEachPiece(const std::uint8_t* data,
                         std::size_t size,
                         const std::function<void(const std::uint8_t*, std::size_t)>& piece) {
    if (size == 0)
        return;
    std::uint32_t state = data[0];
    const bool whole = data[0] == 0;
    ++data, --size;
    while (size > 0) {
        state = state * 1103515245u + 12345u;  // a plain LCG: the same input always splits the same way
        const std::size_t n = whole ? size : 1 + (state >> 16) % 64;
        const std::size_t take = n < size ? n : size;
        piece(data, take);
        data += take, size -= take;
    }
}

}  // namespace memoline::fuzz
