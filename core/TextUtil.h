// Small text helpers shared by every layer: trimming, case folding and UTF-8 for protocol texts
// (header names and values, schemes, hosts, tags). The case folding is ASCII-only, so the result never
// depends on the system's locale. Header-only and free of platform code, so the host lane builds it too.
#pragma once

#include <cstdint>
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

// Equal texts when A to Z and a to z count as the same; every other character must match exactly.
inline bool SameTextAscii(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

// True when `text` begins with `prefix`, compared as SameTextAscii does.
inline bool StartsWithAscii(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

// Blanks and control characters (code 0x20 and below), which header lines may carry at either end.
inline bool IsBlankOrControl(uint32_t code) {
    return code <= 0x20;
}

// Strips blanks and control characters at both ends.
inline std::wstring_view TrimView(std::wstring_view text) {
    while (!text.empty() && IsBlankOrControl(static_cast<uint32_t>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrControl(static_cast<uint32_t>(text.back())))
        text.remove_suffix(1);
    return text;
}

inline std::string_view TrimView(std::string_view text) {
    while (!text.empty() && IsBlankOrControl(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrControl(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

inline std::wstring Trim(std::wstring_view text) {
    return std::wstring(TrimView(text));
}

// UTF-16 text (UTF-32 where wchar_t is 32 bits wide) as UTF-8 bytes. A lone surrogate becomes U+FFFD,
// as the system's own conversion writes it.
inline std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t code = static_cast<uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            const bool high = code >= 0xD800 && code <= 0xDBFF;
            const uint32_t next = i + 1 < text.size() ? static_cast<uint32_t>(text[i + 1]) : 0;
            if (high && next >= 0xDC00 && next <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace memoline
