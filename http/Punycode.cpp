#include "http/Punycode.h"

#include <cstdint>
#include <limits>

#include "http/NetErrors.h"

namespace memoline {
namespace {

// The parameters RFC 3492 fixes for Punycode.
constexpr uint32_t kBase = 36;
constexpr uint32_t kTMin = 1;
constexpr uint32_t kTMax = 26;
constexpr uint32_t kSkew = 38;
constexpr uint32_t kDamp = 700;
constexpr uint32_t kInitialBias = 72;
constexpr uint32_t kInitialN = 128;
constexpr char kDelimiter = '-';
constexpr uint32_t kMaxInt = std::numeric_limits<uint32_t>::max();

const wchar_t kOverflowText[] = L"Input value needs wider integers to translate";
const wchar_t kBadInputText[] = L"Bad input value for the IDN translator";

char EncodeDigit(uint32_t d) {
    // 0..25 are "a".."z", 26..35 are "0".."9".
    return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26));
}

uint32_t Adapt(uint32_t delta, uint32_t numPoints, bool firstTime) {
    delta = firstTime ? delta / kDamp : delta / 2;
    delta += delta / numPoints;
    uint32_t k = 0;
    while (delta > ((kBase - kTMin) * kTMax) / 2) {
        delta /= kBase - kTMin;
        k += kBase;
    }
    return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

bool IsScalarValue(char32_t c) {
    return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

// The basic (ASCII) code points of the input in their order; throws on a value that is no code point.
std::string BasicCodePoints(std::u32string_view input) {
    std::string basic;
    for (char32_t c : input) {
        if (!IsScalarValue(c))
            throw EnetIdnError(kBadInputText);
        if (c < 0x80)
            basic += static_cast<char>(c);
    }
    return basic;
}

// The smallest code point of the input that is not below n (kMaxInt when there is none).
uint32_t SmallestFrom(std::u32string_view input, uint32_t n) {
    uint32_t m = kMaxInt;
    for (char32_t c : input) {
        if (c >= n && c < m)
            m = c;
    }
    return m;
}

// Writes q as a generalized variable-length integer with the thresholds the bias gives.
void AppendVariableLengthInteger(std::string& output, uint32_t q, uint32_t bias) {
    for (uint32_t k = kBase;; k += kBase) {
        const uint32_t t = k <= bias ? kTMin : (k >= bias + kTMax ? kTMax : k - bias);
        if (q < t)
            break;
        output += EncodeDigit(t + (q - t) % (kBase - t));
        q = (q - t) / (kBase - t);
    }
    output += EncodeDigit(q);
}

}  // namespace

std::string PunycodeEncode(std::u32string_view input) {
    std::string output = BasicCodePoints(input);
    const uint32_t basicCount = static_cast<uint32_t>(output.size());
    uint32_t handled = basicCount;
    if (basicCount > 0)
        output += kDelimiter;

    uint32_t n = kInitialN;
    uint32_t delta = 0;
    uint32_t bias = kInitialBias;
    const uint32_t length = static_cast<uint32_t>(input.size());
    while (handled < length) {
        const uint32_t m = SmallestFrom(input, n);
        if (m - n > (kMaxInt - delta) / (handled + 1))
            throw EnetIdnError(kOverflowText);
        delta += (m - n) * (handled + 1);
        n = m;
        for (char32_t c : input) {
            if (c < n && ++delta == 0)
                throw EnetIdnError(kOverflowText);
            if (c != n)
                continue;
            AppendVariableLengthInteger(output, delta, bias);
            bias = Adapt(delta, handled + 1, handled == basicCount);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
    }
    return output;
}

namespace {

// The code points of a label; a lone UTF-16 surrogate is kept as it is, so that it is rejected.
std::u32string CodePoints(std::wstring_view text) {
    std::u32string result;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
                const char32_t low = static_cast<char32_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        result += c;
    }
    return result;
}

bool IsAscii(std::wstring_view label) {
    for (wchar_t c : label) {
        if (static_cast<uint32_t>(c) >= 0x80)
            return false;
    }
    return true;
}

}  // namespace

std::wstring HostToAscii(std::wstring_view host) {
    std::wstring result;
    size_t start = 0;
    while (true) {
        const size_t dot = host.find(L'.', start);
        const std::wstring_view label = host.substr(start, dot == std::wstring_view::npos ? dot : dot - start);
        if (IsAscii(label)) {
            result += label;
        } else {
            const std::string encoded = PunycodeEncode(CodePoints(label));
            result += L"xn--";
            result.append(encoded.begin(), encoded.end());
        }
        if (dot == std::wstring_view::npos)
            break;
        result += L'.';
        start = dot + 1;
    }
    return result;
}

}  // namespace memoline
