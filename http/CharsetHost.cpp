// The host lane's charsets: UTF-8, ISO-8859-1, Windows-1252 (standing in for the ANSI code page) and
// US-ASCII, converted in code so the portable rules can run under the sanitizers and the fuzzer.
//
// wchar_t is 32 bits wide here but 16 bits on Windows. So that both lanes behave the same, each wchar_t
// is treated as one UTF-16 code unit: decoding produces values up to 0xFFFF only, a character beyond
// the BMP as two surrogate units; encoding pairs surrogate units up again, and a lone surrogate or a
// value above 0xFFFF is a character the code page cannot represent.
#include "http/Charset.h"
#include "http/CharsetNames.h"

namespace memoline {
namespace {

const CharsetName kNames[] = {
    {L"utf-8", kCodePageUtf8},
    {L"utf8", kCodePageUtf8},
    {L"us-ascii", kCodePageUsAscii},
    {L"ascii", kCodePageUsAscii},
    {L"iso-8859-1", kCodePageIso8859_1},
    {L"iso8859-1", kCodePageIso8859_1},
    {L"iso_8859-1", kCodePageIso8859_1},
    {L"latin1", kCodePageIso8859_1},
    {L"windows-1252", kCodePageWindows1252},
    {L"cp1252", kCodePageWindows1252},
};

// Windows-1252 bytes 0x80 to 0x9F; the five bytes the code page leaves undefined map to the C1
// control of the same value, as Windows maps them.
const char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr char kDefaultChar = '?';
constexpr wchar_t kReplacementChar = 0xFFFD;

bool IsHighSurrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// The next character of UTF-16 text held one unit per wchar_t; a lone surrogate or an out-of-range
// unit comes back as 0xFFFFFFFF.
char32_t NextCodePoint(std::wstring_view text, std::size_t& i) {
    const char32_t unit = static_cast<char32_t>(text[i++]);
    if (unit > 0xFFFF || IsLowSurrogate(unit))
        return 0xFFFFFFFF;
    if (!IsHighSurrogate(unit))
        return unit;
    if (i < text.size() && IsLowSurrogate(static_cast<char32_t>(text[i]))) {
        const char32_t low = static_cast<char32_t>(text[i++]);
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    return 0xFFFFFFFF;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp == 0xFFFFFFFF)
        cp = kReplacementChar;  // Windows writes U+FFFD for a lone surrogate
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::wstring& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<wchar_t>(cp);
        return;
    }
    cp -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (cp >> 10));
    out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
}

std::wstring DecodeUtf8(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i++]);
        if (lead < 0x80) {
            out += static_cast<wchar_t>(lead);
            continue;
        }
        // Length and the allowed range of the second byte, which rules out overlong forms, surrogates
        // and values above U+10FFFF.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        char32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            out += kReplacementChar;
            continue;
        }
        std::size_t taken = 1;
        while (taken < length && i < bytes.size()) {
            const unsigned char next = static_cast<unsigned char>(bytes[i]);
            const unsigned char min = taken == 1 ? low : 0x80;
            const unsigned char max = taken == 1 ? high : 0xBF;
            if (next < min || next > max)
                break;
            cp = (cp << 6) | (next & 0x3F);
            ++i, ++taken;
        }
        // An incomplete sequence gives one replacement for the bytes it used (its maximal subpart).
        if (taken < length)
            out += kReplacementChar;
        else
            AppendUtf16(out, cp);
    }
    return out;
}

std::string EncodeSingleByte(unsigned codePage, std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = NextCodePoint(text, i);
        char byte = kDefaultChar;
        if (cp < 0x80) {
            byte = static_cast<char>(cp);
        } else if (codePage == kCodePageIso8859_1 && cp <= 0xFF) {
            byte = static_cast<char>(cp);
        } else if (codePage == kCodePageWindows1252) {
            if (cp >= 0xA0 && cp <= 0xFF)
                byte = static_cast<char>(cp);
            for (int k = 0; k < 32; ++k) {
                if (kWindows1252High[k] == cp)
                    byte = static_cast<char>(0x80 + k);
            }
        }
        out += byte;
    }
    return out;
}

std::wstring DecodeSingleByte(unsigned codePage, std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80 || codePage == kCodePageIso8859_1)
            out += static_cast<wchar_t>(byte);
        else if (codePage == kCodePageWindows1252 && byte < 0xA0)
            out += static_cast<wchar_t>(kWindows1252High[byte - 0x80]);
        else if (codePage == kCodePageWindows1252)
            out += static_cast<wchar_t>(byte);
        else
            out += static_cast<wchar_t>(byte & 0x7F);  // US-ASCII: Windows drops the high bit
    }
    return out;
}

class HostCharsetPlatform : public ICharsetPlatform {
public:
    unsigned AnsiCodePage() const override { return kCodePageWindows1252; }

    unsigned CodePageFromName(std::wstring_view name) const override { return LookUpCharsetName(kNames, name); }

    std::string Encode(unsigned codePage, std::wstring_view text) const override {
        if (codePage == kCodePageUtf8) {
            std::string out;
            out.reserve(text.size());
            std::size_t i = 0;
            while (i < text.size())
                AppendUtf8(out, NextCodePoint(text, i));
            return out;
        }
        return EncodeSingleByte(codePage, text);
    }

    std::wstring Decode(unsigned codePage, std::string_view bytes) const override {
        if (codePage == kCodePageUtf8)
            return DecodeUtf8(bytes);
        return DecodeSingleByte(codePage, bytes);
    }
};

}  // namespace

const ICharsetPlatform& CharsetPlatform() {
    static const HostCharsetPlatform platform;
    return platform;
}

}  // namespace memoline
