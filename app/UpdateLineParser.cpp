#include "app/UpdateLineParser.h"

#include "app/VersionCompare.h"

#include <algorithm>

namespace memoline {
namespace {

constexpr wchar_t kSeparator = L';';
constexpr wchar_t kQuote = L'"';

bool IsBlank(wchar_t c) {
    return c >= 0x01 && c <= 0x20;
}

}  // namespace

std::vector<std::wstring> SplitUpdateLine(std::wstring_view line) {
    // Each field is taken as whole runs of the line, not character by character: a catalogue of
    // thousands of lines is split with one allocation per field.
    std::vector<std::wstring> fields;
    fields.reserve(5);
    size_t pos = 0;
    const size_t end = line.size();
    auto skipBlanks = [&] {
        while (pos < end && IsBlank(line[pos]))
            ++pos;
    };
    skipBlanks();
    while (pos < end) {
        std::wstring field;
        if (line[pos] == kQuote) {
            ++pos;
            while (pos < end) {
                const size_t quote = std::min(line.find(kQuote, pos), end);
                field.append(line.substr(pos, quote - pos));
                pos = quote;
                if (pos == end)
                    break;  // no closing quote: the field runs to the end of the line
                if (pos + 1 < end && line[pos + 1] == kQuote) {
                    field += kQuote;
                    pos += 2;
                    continue;
                }
                ++pos;  // the closing quote
                break;
            }
        } else {
            const size_t start = pos;
            while (pos < end && line[pos] != kSeparator && !IsBlank(line[pos]))
                ++pos;
            field.assign(line.substr(start, pos - start));
        }
        fields.push_back(std::move(field));
        skipBlanks();
        if (pos < end && line[pos] == kSeparator) {
            if (pos + 1 == end)
                fields.emplace_back();
            ++pos;
            skipBlanks();
        }
    }
    return fields;
}

std::optional<TUpdateEntry> ParseUpdateLine(std::wstring_view line, std::wstring_view installedVersion) {
    std::vector<std::wstring> fields = SplitUpdateLine(line);
    if (fields.size() != 5)
        return std::nullopt;
    if (CompareVersions(fields[1], installedVersion) <= 0)
        return std::nullopt;
    return TUpdateEntry{std::move(fields[0]), std::move(fields[1]), std::move(fields[2]), std::move(fields[3])};
}

}  // namespace memoline
