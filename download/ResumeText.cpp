#include "download/ResumeText.h"

#include "core/TextUtil.h"

namespace memoline::download {
namespace {

std::wstring Trimmed(const std::wstring& text) {
    size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos)
        return {};
    size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

// Reads decimal digits at `pos`; false when there are none or the number does not fit.
bool ReadNumber(const std::wstring& text, size_t& pos, uint64_t& value) {
    size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9') {
        uint64_t digit = static_cast<uint64_t>(text[pos] - L'0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++pos;
    }
    return pos > start;
}

}  // namespace

std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified) {
    std::wstring tag = Trimmed(etag);
    if (!tag.empty() && tag.rfind(L"W/", 0) != 0)
        return tag;
    return Trimmed(lastModified);
}

std::wstring ResumeRequestLines(uint64_t offset, const std::wstring& validator) {
    if (offset == 0 || validator.empty())
        return {};
    return L"Range: bytes=" + std::to_wstring(offset) + L"-\r\nIf-Range: " + validator + L"\r\n";
}

bool ParseContentRange(const std::wstring& value, uint64_t& first, uint64_t& last) {
    std::wstring text = Trimmed(value);
    if (text.size() < 6)
        return false;
    if (!StartsWithAscii(text, L"bytes"))
        return false;
    size_t pos = text.find_first_not_of(L' ', 5);
    if (pos == 5 || pos == std::wstring::npos)
        return false;
    if (!ReadNumber(text, pos, first) || pos >= text.size() || text[pos] != L'-')
        return false;
    ++pos;
    if (!ReadNumber(text, pos, last) || pos >= text.size() || text[pos] != L'/' || last < first)
        return false;
    ++pos;
    uint64_t length = 0;
    if (pos < text.size() && text[pos] == L'*')
        return pos + 1 == text.size();
    return ReadNumber(text, pos, length) && pos == text.size() && last < length;
}

}  // namespace memoline::download
