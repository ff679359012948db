// URL splitting, rebuilding and percent-encoding for the HTTP client, and the resolution of relative
// redirect targets. No platform code: builds in the host lane too.
#pragma once

#include <string>
#include <string_view>

namespace memoline {

// In this order; only utHTTP and utHTTPS are requested by the HTTP client.
enum class TnetUrlType { utUnknown, utFTP, utGOPHER, utHTTP, utHTTPS, utFILE, utNEWS, utMAILTO };

// Percent-encoding of a URL or a path. The text becomes bytes in `charSet` (the system's ANSI code
// page when empty or unknown); "%" and two hexadecimal digits pass unchanged; space, '"', "#", "%",
// "<", ">", "[", "\", "]", "^", "`", "{", "|", "}", "~", control bytes and bytes 0x7F and above become
// "%" and two upper-case hexadecimal digits. Text that yields no bytes gives the trimmed text with
// its spaces as "%20".
std::wstring EncodeUrl(std::wstring_view text, const std::wstring& charSet);

// The reference resolved against an absolute base URL as a browser resolves a link (RFC 3986,
// section 5.2, with dot segments removed). An absolute reference is returned as it is.
std::wstring ResolveUrlReference(std::wstring_view base, std::wstring_view reference);

class TnetUrlParser {
public:
    // Splits the URL; without a recognised scheme, "http://" is put in front and the split is tried
    // once more. Non-ASCII host labels become "xn--" labels. Returns false when the URL cannot be
    // split (the parser then holds nothing). Throws EnetIdnError for a host that Punycode cannot
    // represent.
    bool Parse(std::wstring_view url, const std::wstring& charSet);
    void Clear();

    TnetUrlType UrlType() const { return FUrlType; }
    // "http", "https", ...; empty for utUnknown.
    std::wstring Scheme() const;
    // The ASCII host; an IPv6 literal keeps its brackets.
    const std::wstring& Host() const { return FHost; }
    // The host as a socket address text: an IPv6 literal without its brackets.
    std::wstring HostAddress() const;
    int Port() const { return FPort; }
    const std::wstring& UserName() const { return FUserName; }
    const std::wstring& Password() const { return FPassword; }
    // The path, starting with "/".
    const std::wstring& UrlPath() const { return FUrlpath; }
    // Everything after the path: the query with its "?", a fragment with its "#".
    const std::wstring& Extra() const { return FExtra; }
    const std::wstring& CharSet() const { return FCharSet; }
    // The whole URL rebuilt and percent-encoded.
    const std::wstring& AbsoluteUri() const { return FAbsoluteUri; }
    // The request target: the path, "?" when the extra text does not bring one, the extra text, all
    // percent-encoded (so a fragment goes out as "%23" and its text); "/" when empty; the host itself
    // when the host is "*".
    std::wstring AbsolutePath() const;

private:
    bool Split(std::wstring_view url);

    std::wstring FHost;
    int FPort = 0;
    std::wstring FUserName;
    std::wstring FPassword;
    std::wstring FUrlpath;
    std::wstring FExtra;
    TnetUrlType FUrlType = TnetUrlType::utUnknown;
    std::wstring FAbsoluteUri;
    std::wstring FCharSet;
};

// The port a scheme uses when the URL names none: 80 for "http", 443 for "https".
int DefaultPort(TnetUrlType type);

}  // namespace memoline
