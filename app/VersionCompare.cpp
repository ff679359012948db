#include "app/VersionCompare.h"

#include <vector>

namespace memoline {
namespace {

std::vector<std::wstring_view> SplitAtDots(std::wstring_view text) {
    std::vector<std::wstring_view> parts;
    if (text.empty())
        return parts;
    parts.reserve(4);  // a dotted version has four parts at most, as a rule
    size_t start = 0;
    for (;;) {
        size_t dot = text.find(L'.', start);
        parts.push_back(text.substr(start, dot == std::wstring_view::npos ? std::wstring_view::npos : dot - start));
        if (dot == std::wstring_view::npos)
            return parts;
        start = dot + 1;
    }
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

}  // namespace

int32_t VersionPartToInt(std::wstring_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == L' ' || s[i] == L'\t'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == L'+' || s[i] == L'-'))
        negative = s[i++] == L'-';

    bool hex = false;
    if (i < s.size() && (s[i] == L'$' || s[i] == L'x' || s[i] == L'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == L'0' && (s[i + 1] == L'x' || s[i + 1] == L'X')) {
        hex = true;
        i += 2;
    }
    if (i == s.size())
        return 0;  // no digits at all

    if (hex) {
        // Up to 32 bits, taken as a signed value, as the runtime's own conversion does.
        uint64_t value = 0;
        for (; i < s.size(); ++i) {
            int d = HexDigit(s[i]);
            if (d < 0)
                return 0;
            value = value * 16 + d;
            if (value > 0xFFFFFFFFull)
                return 0;
        }
        int32_t v = static_cast<int32_t>(static_cast<uint32_t>(value));
        return negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
    }

    int64_t value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < L'0' || s[i] > L'9')
            return 0;
        value = value * 10 + (s[i] - L'0');
        if (value > 2147483648LL)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return 0;
    return static_cast<int32_t>(value);
}

int CompareVersions(std::wstring_view a, std::wstring_view b) {
    const auto pa = SplitAtDots(a);
    const auto pb = SplitAtDots(b);
    const size_t n = pa.size() > pb.size() ? pa.size() : pb.size();
    for (size_t i = 0; i < n; ++i) {
        int32_t x = i < pa.size() ? VersionPartToInt(pa[i]) : 0;
        int32_t y = i < pb.size() ? VersionPartToInt(pb[i]) : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace memoline
