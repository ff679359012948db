#include "tests/support/SplitFeed.h"

namespace memoline::test {

std::vector<std::vector<std::string>> Splits(const std::string& input) {
    std::vector<std::vector<std::string>> result;
    for (std::size_t i = 0; i <= input.size(); ++i) {
        for (std::size_t j = i; j <= input.size(); ++j)
            result.push_back({input.substr(0, i), input.substr(i, j - i), input.substr(j)});
    }
    std::vector<std::string> bytes;
    for (const char c : input)
        bytes.emplace_back(1, c);
    result.push_back(bytes);
    return result;
}

}  // namespace memoline::test
