#include "download/DownloadText.h"

#include <charconv>
#include <cmath>

namespace memoline::download {
namespace {

std::wstring Widen(const char* first, const char* last) {
    return std::wstring(first, last);
}

// Two decimals; to_chars rounds the exact binary value and ignores the C locale, so the separator
// is ours to choose.
std::wstring Fixed2(double value, wchar_t decimalSeparator) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    std::wstring text = Widen(buffer, result.ptr);
    for (auto& c : text) {
        if (c == L'.')
            c = decimalSeparator;
    }
    return text;
}

std::wstring FormatAmount(uint64_t n,
                          wchar_t decimalSeparator,
                          const wchar_t* bytesUnit,
                          const wchar_t* kiloUnit,
                          const wchar_t* megaUnit) {
    if (n < 1000)
        return std::to_wstring(n) + bytesUnit;
    if (n < 1000000)
        return Fixed2(static_cast<double>(n) / 1000.0, decimalSeparator) + kiloUnit;
    return Fixed2(static_cast<double>(n) / 1000000.0, decimalSeparator) + megaUnit;
}

int HexValue(wchar_t c) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        if (kDigits[i] == c)
            return i;
    }
    return -1;
}

bool IsBlank(wchar_t c) {
    return c <= L' ';
}

}  // namespace

int64_t RoundHalfEven(double value) {
    // nearbyint follows the current rounding mode, which is round-to-nearest-even unless changed.
    return static_cast<int64_t>(std::nearbyint(value));
}

std::wstring FormatSize(uint64_t bytes, wchar_t decimalSeparator) {
    return FormatAmount(bytes, decimalSeparator, L" bytes", L" Kb", L" Mb");
}

std::wstring FormatRate(uint64_t bytesPerSecond, wchar_t decimalSeparator) {
    return FormatAmount(bytesPerSecond, decimalSeparator, L" bytes/sec", L" Kb/sec", L" Mb/sec");
}

std::wstring FormatTime(int64_t elapsedMs,
                        uint32_t total,
                        uint64_t received,
                        const std::wstring& secUnit,
                        const std::wstring& minUnit) {
    double value = static_cast<double>(elapsedMs);
    if (received > 0 && total > 0 && received < total)
        value = static_cast<double>(total - received) / static_cast<double>(received) * value;
    int64_t ms = RoundHalfEven(value);
    int64_t s = RoundHalfEven(static_cast<double>(ms) / 1000.0);
    int64_t m = RoundHalfEven(static_cast<double>(s) / 60.0);
    int64_t h = RoundHalfEven(static_cast<double>(m) / 60.0);
    if (m == 0 && h == 0)
        return std::to_wstring(s) + L" " + secUnit + L".";
    if (h <= 0)
        return std::to_wstring(m) + L" " + minUnit + L".";
    return std::to_wstring(m / 60) + L"h " + std::to_wstring(m % 60);
}

std::wstring EncodeBase64(const std::wstring& text) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::wstring out;
    out.reserve((text.size() + 2) / 3 * 4);
    for (size_t i = 0; i < text.size(); i += 3) {
        uint32_t b0 = text[i] & 0xFF;
        uint32_t b1 = i + 1 < text.size() ? (text[i + 1] & 0xFF) : 0;
        uint32_t b2 = i + 2 < text.size() ? (text[i + 2] & 0xFF) : 0;
        uint32_t group = (b0 << 16) | (b1 << 8) | b2;
        out += static_cast<wchar_t>(kAlphabet[(group >> 18) & 63]);
        out += static_cast<wchar_t>(kAlphabet[(group >> 12) & 63]);
        out += i + 1 < text.size() ? static_cast<wchar_t>(kAlphabet[(group >> 6) & 63]) : L'=';
        out += i + 2 < text.size() ? static_cast<wchar_t>(kAlphabet[group & 63]) : L'=';
    }
    return out;
}

std::wstring DecodeURLName(const std::wstring& text) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        wchar_t c = text[i];
        if (c != L'%') {
            out += c;
            ++i;
            continue;
        }
        if (text.size() - i < 3) {
            ++i;  // fewer than two characters follow: the "%" alone is dropped
            continue;
        }
        int hi = HexValue(text[i + 1]);
        int lo = HexValue(text[i + 2]);
        if (hi >= 0 && lo >= 0)
            out += static_cast<wchar_t>(hi * 16 + lo);
        i += 3;
    }
    return out;
}

std::wstring ExtractURLFileName(const std::wstring& url) {
    std::wstring name = url;
    size_t slash = name.rfind(L'/');
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    size_t backslash = name.rfind(L'\\');
    if (backslash != std::wstring::npos)
        name.erase(0, backslash + 1);
    return name;
}

std::wstring ExtractURLHost(const std::wstring& url) {
    std::wstring host = url;
    size_t scheme = host.find(L"://");
    if (scheme != std::wstring::npos)
        host.erase(0, scheme + 3);
    size_t slash = host.find(L'/');
    if (slash != std::wstring::npos)
        host.erase(slash);
    return host;
}

std::wstring JoinPath(const std::wstring& dir, const std::wstring& name) {
    if (dir.empty())
        return name;
    if (dir.back() == L'\\')
        return dir + name;
    return dir + L"\\" + name;
}

std::wstring InsertProxyCredentials(const std::wstring& url,
                                    const std::wstring& proxyUserID,
                                    const std::wstring& proxyPassword) {
    if (proxyUserID.empty() || proxyPassword.empty() || url.size() < 7)
        return url;
    static const wchar_t kScheme[] = L"http://";
    for (size_t i = 0; i < 7; ++i) {
        wchar_t c = url[i];
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != kScheme[i])
            return url;
    }
    return L"http://" + proxyUserID + L":" + proxyPassword + L"@" + url.substr(7);
}

bool IsReservedDeviceName(std::wstring_view name) {
    // Windows drops trailing dots and blanks from a name and then looks only at the part before the
    // first dot, without its trailing blanks. Leading blanks are dropped too: refusing " nul" costs nothing.
    while (!name.empty() && (name.back() == L'.' || IsBlank(name.back())))
        name.remove_suffix(1);
    while (!name.empty() && IsBlank(name.front()))
        name.remove_prefix(1);
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && IsBlank(name.back()))
        name.remove_suffix(1);
    std::wstring upper(name);
    for (auto& c : upper) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    static constexpr std::wstring_view kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (std::wstring_view device : kDevices) {
        if (upper == device)
            return true;
    }
    // COM0 to COM9 and LPT0 to LPT9; Windows also takes the superscript digits 1, 2 and 3.
    if (upper.size() == 4 && (upper.rfind(L"COM", 0) == 0 || upper.rfind(L"LPT", 0) == 0)) {
        wchar_t digit = upper[3];
        return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
    }
    return false;
}

bool IsSafeTargetFilename(const std::wstring& name) {
    size_t first = 0;
    size_t last = name.size();
    while (first < last && IsBlank(name[first]))
        ++first;
    while (last > first && IsBlank(name[last - 1]))
        --last;
    std::wstring trimmed = name.substr(first, last - first);
    if (trimmed.empty() || trimmed == L"." || trimmed == L"..")
        return false;
    for (wchar_t c : name) {
        if (c == L'\\' || c == L'/' || c == L':' || c < 0x20 || c == 0x7F)
            return false;
    }
    return !IsReservedDeviceName(name);
}

std::wstring NumberedFilename(const std::wstring& path, int n) {
    size_t separator = path.find_last_of(L"\\/");
    size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator))
        dot = path.size();
    return path.substr(0, dot) + L"(" + std::to_wstring(n) + L")" + path.substr(dot);
}

}  // namespace memoline::download
