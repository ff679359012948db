// Conversion between UTF-16 text and bytes by charset name, as HTTP bodies and form fields need it.
// The portable rules (trimming, fallback to the ANSI code page, the trailing zero, the ASCII retry)
// live here; what a code page is and how it maps characters is the platform's part, behind
// ICharsetPlatform: CharsetWin32.cpp on Windows, CharsetHost.cpp in the host lane.
#pragma once

#include <string>
#include <string_view>

namespace memoline {

// Windows code page numbers; the host lane uses the same numbers for the few it knows.
constexpr unsigned kCodePageWindows1252 = 1252;
constexpr unsigned kCodePageIso8859_1 = 28591;
constexpr unsigned kCodePageUsAscii = 20127;
constexpr unsigned kCodePageUtf8 = 65001;

class ICharsetPlatform {
public:
    virtual ~ICharsetPlatform() = default;
    // The system's ANSI code page.
    virtual unsigned AnsiCodePage() const = 0;
    // The code page of a charset name (already trimmed; any case), or 0 for a name it does not know.
    virtual unsigned CodePageFromName(std::wstring_view name) const = 0;
    // Text to bytes; a character the code page cannot represent becomes its default character.
    virtual std::string Encode(unsigned codePage, std::wstring_view text) const = 0;
    // Bytes to text; empty when the code page cannot decode them at all.
    virtual std::wstring Decode(unsigned codePage, std::string_view bytes) const = 0;
};

// The platform's implementation, linked in from the platform's source.
const ICharsetPlatform& CharsetPlatform();

// The rules below on a given platform (tests use their own); the overloads without it use CharsetPlatform().
unsigned CharsetCodePage(std::wstring_view charsetName, const ICharsetPlatform& platform);
std::string CharsetEncode(std::wstring_view text, std::wstring_view charsetName, const ICharsetPlatform& platform);
std::wstring CharsetDecode(std::string_view bytes, std::wstring_view charsetName, const ICharsetPlatform& platform);

// The code page a charset name selects: the name is trimmed and looked up case-insensitively; an empty
// or unknown name selects the ANSI code page.
unsigned CharsetCodePage(std::wstring_view charsetName);

// Text to bytes with the named charset. Never fails: unknown names use the ANSI code page and
// unrepresentable characters become the code page's default character.
std::string CharsetEncode(std::wstring_view text, std::wstring_view charsetName);

// Bytes to text with the named charset. A single zero byte at the very end is dropped first; if the
// bytes decode to nothing, they are decoded again as US-ASCII.
std::wstring CharsetDecode(std::string_view bytes, std::wstring_view charsetName);

}  // namespace memoline
