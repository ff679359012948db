#include "http/ResponseHeaderScanner.h"

#include <cctype>

#include "core/TextUtil.h"

namespace memoline {
namespace {

int ParseDecimal(std::string_view s) {
    if (s.empty() || s.size() > 9)
        return 0;
    int value = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

TnetStatusLine ParseStatusLine(std::string_view block) {
    TnetStatusLine result;
    std::string_view line = block.substr(0, block.find('\n'));
    const size_t space = line.find(' ');
    const std::string_view version = TrimView(line.substr(0, space));
    for (char c : version)
        result.Version += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (space == std::string_view::npos)
        return result;
    line.remove_prefix(space + 1);
    const size_t next = line.find(' ');
    result.StatusCode = ParseDecimal(TrimView(line.substr(0, next)));
    if (next != std::string_view::npos)
        result.StatusText = TrimView(line.substr(next + 1));
    return result;
}

size_t FindHeaderEnd(std::string_view buffer, size_t blockStart) {
    if (blockStart > buffer.size())
        return std::string_view::npos;
    const size_t crlf = buffer.find("\r\n\r\n", blockStart);
    const size_t lf = buffer.find("\n\n", blockStart);
    if (crlf == std::string_view::npos && lf == std::string_view::npos)
        return std::string_view::npos;
    if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf))
        return crlf + 4;
    return lf + 2;
}

TnetResponseHeaderScanner::Result TnetResponseHeaderScanner::Scan(std::string_view buffer) {
    while (true) {
        const size_t end = FindHeaderEnd(buffer, blockStart_);
        if (end == std::string_view::npos)
            return Result::NeedMore;
        status_ = ParseStatusLine(buffer.substr(blockStart_, end - blockStart_));
        // Informational answers (100 Continue, 103 Early Hints, ...) come before the final one.
        if (status_.StatusCode >= 100 && status_.StatusCode < 200) {
            blockStart_ = end;
            continue;
        }
        if (status_.StatusCode == 0)
            return Result::NeedMore;
        headerEnd_ = end;
        return Result::Complete;
    }
}

std::vector<std::wstring> SplitHeaderBlock(std::string_view block) {
    std::vector<std::wstring> lines;
    while (!block.empty()) {
        const size_t lf = block.find('\n');
        std::string_view line = block.substr(0, lf);
        block.remove_prefix(lf == std::string_view::npos ? block.size() : lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        std::wstring text;
        text.reserve(line.size());
        for (char c : line)
            text += static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : L'?';
        lines.push_back(std::move(text));
    }
    return lines;
}

}  // namespace memoline
