// Small text helpers for header names and values: ASCII-only case folding, so the result never depends
// on the system's locale. No platform code.
#pragma once

#include <string>
#include <string_view>

namespace memoline {

inline wchar_t LowerAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

inline std::wstring LowerAscii(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out)
        c = LowerAscii(c);
    return out;
}

inline bool SameTextAscii(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

// Strips blanks and control characters at both ends.
inline std::wstring_view TrimView(std::wstring_view text) {
    while (!text.empty() && text.front() <= L' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() <= L' ')
        text.remove_suffix(1);
    return text;
}

inline std::wstring Trim(std::wstring_view text) {
    return std::wstring(TrimView(text));
}

}  // namespace memoline
