#include "http/ResponseLines.h"

namespace memoline {

std::vector<std::wstring> SplitResponseText(std::wstring_view text) {
    text = text.substr(0, text.find(L'\0'));
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t brk = text.find_first_of(L"\r\n", start);
        if (brk == std::wstring_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, brk - start));
        start = brk + 1;
        if (text[brk] == L'\r' && start < text.size() && text[start] == L'\n')
            ++start;
    }
    return lines;
}

}  // namespace memoline
