// Every way of cutting an input into pieces, for the tests of code that takes a stream in pieces: a
// parser or decoder must give the same result for each. No Windows code: both lanes use it.
#pragma once

#include <string>
#include <vector>

namespace memoline::test {

// The input cut at every pair of positions (three pieces, empty pieces included, so every cut into
// two is among them), then one byte at a time.
std::vector<std::vector<std::string>> Splits(const std::string& input);

}  // namespace memoline::test
