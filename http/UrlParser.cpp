#include "http/UrlParser.h"

#include <cwctype>

#include "core/TextUtil.h"
#include "http/Punycode.h"
#include "http/UrlText.h"

namespace memoline {
namespace {

struct SchemeInfo {
    const wchar_t* name;
    TnetUrlType type;
    int defaultPort;
    bool hasAuthority;  // written as scheme "://" authority
};

const SchemeInfo kSchemes[] = {
    {L"ftp", TnetUrlType::utFTP, 21, true},       {L"gopher", TnetUrlType::utGOPHER, 70, true},
    {L"http", TnetUrlType::utHTTP, 80, true},     {L"https", TnetUrlType::utHTTPS, 443, true},
    {L"file", TnetUrlType::utFILE, 0, true},      {L"news", TnetUrlType::utNEWS, 119, false},
    {L"mailto", TnetUrlType::utMAILTO, 0, false},
};

const SchemeInfo* FindScheme(std::wstring_view name) {
    for (const auto& s : kSchemes) {
        if (SameTextAscii(name, s.name))
            return &s;
    }
    return nullptr;
}

const SchemeInfo* FindScheme(TnetUrlType type) {
    for (const auto& s : kSchemes) {
        if (s.type == type)
            return &s;
    }
    return nullptr;
}

bool IsHexDigit(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The bytes that are written as "%XX" in a URL.
bool MustEscape(unsigned char b) {
    if (b <= 0x20 || b >= 0x7F)
        return true;
    switch (b) {
        case 0x22:
        case 0x23:
        case 0x25:
        case 0x3C:
        case 0x3E:
        case 0x5B:
        case 0x5C:
        case 0x5D:
        case 0x5E:
        case 0x60:
        case 0x7B:
        case 0x7C:
        case 0x7D:
        case 0x7E:
            return true;
        default:
            return false;
    }
}

// A port text: 1 to 65535, digits only.
bool ParsePort(std::wstring_view text, int& port) {
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + (c - L'0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

// The generic parts of a URI reference (RFC 3986, appendix B).
struct UriParts {
    bool hasScheme = false;
    std::wstring scheme;
    bool hasAuthority = false;
    std::wstring authority;
    std::wstring path;
    bool hasQuery = false;
    std::wstring query;
    bool hasFragment = false;
    std::wstring fragment;
};

bool IsSchemeText(std::wstring_view s) {
    if (s.empty() || !std::iswalpha(s[0]) || static_cast<uint32_t>(s[0]) >= 0x80)
        return false;
    for (wchar_t c : s) {
        const bool ok = (c < 0x80 && std::iswalnum(c)) || c == L'+' || c == L'-' || c == L'.';
        if (!ok)
            return false;
    }
    return true;
}

UriParts SplitUri(std::wstring_view s) {
    UriParts p;
    const size_t colon = s.find(L':');
    const size_t firstDelimiter = s.find_first_of(L"/?#");
    if (colon != std::wstring_view::npos && (firstDelimiter == std::wstring_view::npos || colon < firstDelimiter) &&
        IsSchemeText(s.substr(0, colon))) {
        p.hasScheme = true;
        p.scheme = s.substr(0, colon);
        s.remove_prefix(colon + 1);
    }
    if (s.substr(0, 2) == L"//") {
        s.remove_prefix(2);
        const size_t end = s.find_first_of(L"/?#");
        p.hasAuthority = true;
        p.authority = s.substr(0, end);
        s.remove_prefix(end == std::wstring_view::npos ? s.size() : end);
    }
    const size_t pathEnd = s.find_first_of(L"?#");
    p.path = s.substr(0, pathEnd);
    s.remove_prefix(pathEnd == std::wstring_view::npos ? s.size() : pathEnd);
    if (!s.empty() && s[0] == L'?') {
        const size_t end = s.find(L'#');
        p.hasQuery = true;
        p.query = s.substr(1, end == std::wstring_view::npos ? end : end - 1);
        s.remove_prefix(end == std::wstring_view::npos ? s.size() : end);
    }
    if (!s.empty() && s[0] == L'#') {
        p.hasFragment = true;
        p.fragment = s.substr(1);
    }
    return p;
}

// RFC 3986, section 5.2.4.
std::wstring RemoveDotSegments(std::wstring input) {
    std::wstring output;
    while (!input.empty()) {
        if (input.compare(0, 3, L"../") == 0) {
            input.erase(0, 3);
        } else if (input.compare(0, 2, L"./") == 0) {
            input.erase(0, 2);
        } else if (input.compare(0, 3, L"/./") == 0) {
            input.erase(0, 2);
        } else if (input == L"/.") {
            input = L"/";
        } else if (input.compare(0, 4, L"/../") == 0 || input == L"/..") {
            input = input.size() == 3 ? std::wstring(L"/") : input.substr(3);
            const size_t last = output.rfind(L'/');
            output.erase(last == std::wstring::npos ? 0 : last);
        } else if (input == L"." || input == L"..") {
            input.clear();
        } else {
            const size_t next = input.find(L'/', 1);
            output += input.substr(0, next);
            input.erase(0, next == std::wstring::npos ? input.size() : next);
        }
    }
    return output;
}

std::wstring Recompose(const UriParts& p) {
    std::wstring result;
    if (p.hasScheme)
        result += p.scheme + L":";
    if (p.hasAuthority)
        result += L"//" + p.authority;
    result += p.path;
    if (p.hasQuery)
        result += L"?" + p.query;
    if (p.hasFragment)
        result += L"#" + p.fragment;
    return result;
}

// The pieces of an authority "user:password@host:port", as views into it.
struct AuthorityParts {
    std::wstring_view userName;
    std::wstring_view password;
    std::wstring_view host;
    std::wstring_view portText;
    bool hasPort = false;  // a ":" after the host, even with no digits after it
};

// Takes "user:password@" off the front (up to the last "@") and returns what follows it.
std::wstring_view SplitUserInfo(std::wstring_view authority, AuthorityParts& out) {
    const size_t at = authority.rfind(L'@');
    if (at == std::wstring_view::npos)
        return authority;
    const std::wstring_view userInfo = authority.substr(0, at);
    const size_t colon = userInfo.find(L':');
    out.userName = userInfo.substr(0, colon);
    if (colon != std::wstring_view::npos)
        out.password = userInfo.substr(colon + 1);
    return authority.substr(at + 1);
}

// What may stand between the brackets of an IPv6 host: its hex digits, ":" and "." (an IPv4 tail), a
// zone after "%", and the letters of a future address form. Anything else (non-ASCII text above all,
// which the host's IDN conversion would turn into a name with the brackets in it) is no address.
bool IsAddressLiteralChar(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L':' || c == L'.' ||
           c == L'%' || c == L'-' || c == L'_' || c == L'~';
}

// Splits "host:port"; an IPv6 host keeps its brackets, and only a ":" may follow the "]". False for
// an unclosed "[", text after the "]", or brackets around what is no address.
bool SplitHostAndPort(std::wstring_view hostPort, AuthorityParts& out) {
    out.host = hostPort;
    size_t colon = std::wstring_view::npos;
    if (!hostPort.empty() && hostPort[0] == L'[') {
        const size_t close = hostPort.find(L']');
        if (close == std::wstring_view::npos)
            return false;
        for (wchar_t c : hostPort.substr(1, close - 1)) {
            if (!IsAddressLiteralChar(c))
                return false;
        }
        out.host = hostPort.substr(0, close + 1);
        if (close + 1 == hostPort.size())
            return true;
        if (hostPort[close + 1] != L':')
            return false;
        colon = close + 1;
    } else {
        colon = hostPort.find(L':');
        if (colon == std::wstring_view::npos)
            return true;
        out.host = hostPort.substr(0, colon);
    }
    out.hasPort = true;
    out.portText = hostPort.substr(colon + 1);
    return true;
}

bool SplitAuthority(std::wstring_view authority, AuthorityParts& out) {
    return SplitHostAndPort(SplitUserInfo(authority, out), out);
}

}  // namespace

std::wstring EncodeUrl(std::wstring_view text, const std::wstring& charSet) {
    const std::string bytes = UrlTextToBytes(text, charSet);
    if (bytes.empty()) {
        std::wstring result;
        for (wchar_t c : Trim(text)) {
            if (c == L' ')
                result += L"%20";
            else
                result += c;
        }
        return result;
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring result;
    result.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b == '%' && i + 2 < bytes.size() && IsHexDigit(bytes[i + 1]) && IsHexDigit(bytes[i + 2])) {
            result += L'%';
            continue;
        }
        if (MustEscape(b)) {
            result += L'%';
            result += static_cast<wchar_t>(kHex[b >> 4]);
            result += static_cast<wchar_t>(kHex[b & 15]);
        } else {
            result += static_cast<wchar_t>(b);
        }
    }
    return result;
}

std::wstring ResolveUrlReference(std::wstring_view base, std::wstring_view reference) {
    const UriParts r = SplitUri(reference);
    if (r.hasScheme)
        return std::wstring(reference);
    const UriParts b = SplitUri(base);
    UriParts t;
    t.hasScheme = b.hasScheme;
    t.scheme = b.scheme;
    t.hasFragment = r.hasFragment;
    t.fragment = r.fragment;
    if (r.hasAuthority) {
        t.hasAuthority = true;
        t.authority = r.authority;
        t.path = RemoveDotSegments(r.path);
        t.hasQuery = r.hasQuery;
        t.query = r.query;
        return Recompose(t);
    }
    t.hasAuthority = b.hasAuthority;
    t.authority = b.authority;
    if (r.path.empty()) {
        t.path = b.path;
        t.hasQuery = r.hasQuery || b.hasQuery;
        t.query = r.hasQuery ? r.query : b.query;
        return Recompose(t);
    }
    if (r.path[0] == L'/') {
        t.path = RemoveDotSegments(r.path);
    } else if (b.hasAuthority && b.path.empty()) {
        t.path = RemoveDotSegments(L"/" + r.path);
    } else {
        const size_t last = b.path.rfind(L'/');
        const std::wstring merged = (last == std::wstring::npos ? std::wstring() : b.path.substr(0, last + 1)) + r.path;
        t.path = RemoveDotSegments(merged);
    }
    t.hasQuery = r.hasQuery;
    t.query = r.query;
    return Recompose(t);
}

int DefaultPort(TnetUrlType type) {
    const SchemeInfo* s = FindScheme(type);
    return s ? s->defaultPort : 0;
}

void TnetUrlParser::Clear() {
    *this = TnetUrlParser();
}

bool TnetUrlParser::Parse(std::wstring_view url, const std::wstring& charSet) {
    Clear();
    FCharSet = charSet;
    const std::wstring trimmed = Trim(url);
    const UriParts parts = SplitUri(trimmed);
    const bool recognised = parts.hasScheme && FindScheme(parts.scheme) != nullptr;
    const bool ok = recognised ? Split(trimmed) : Split(L"http://" + trimmed);
    if (!ok) {
        Clear();
        return false;
    }
    FCharSet = charSet;
    std::wstring rebuilt = Scheme() + (FindScheme(FUrlType)->hasAuthority ? L"://" : L":");
    if (!FUserName.empty() || !FPassword.empty())
        rebuilt += FUserName + (FPassword.empty() ? L"" : L":" + FPassword) + L"@";
    rebuilt += FHost;
    if (FPort != DefaultPort(FUrlType) && FPort != 0)
        rebuilt += L":" + std::to_wstring(FPort);
    // The fragment's "#" stays a delimiter here, so that relative targets resolve against this text.
    const size_t hash = FExtra.find(L'#');
    rebuilt += EncodeUrl(FUrlpath + FExtra.substr(0, hash), FCharSet);
    if (hash != std::wstring::npos)
        rebuilt += L"#" + EncodeUrl(FExtra.substr(hash + 1), FCharSet);
    FAbsoluteUri = rebuilt;
    return true;
}

bool TnetUrlParser::Split(std::wstring_view url) {
    const UriParts parts = SplitUri(url);
    const SchemeInfo* scheme = parts.hasScheme ? FindScheme(parts.scheme) : nullptr;
    if (!scheme)
        return false;
    if (scheme->hasAuthority && !parts.hasAuthority)
        return false;
    FUrlType = scheme->type;
    FPort = scheme->defaultPort;

    AuthorityParts authority;
    if (!SplitAuthority(parts.authority, authority))
        return false;
    FUserName = authority.userName;
    FPassword = authority.password;
    if (authority.hasPort && !authority.portText.empty() && !ParsePort(authority.portText, FPort))
        return false;
    if ((FUrlType == TnetUrlType::utHTTP || FUrlType == TnetUrlType::utHTTPS) && authority.host.empty())
        return false;
    FHost = HostToAscii(authority.host);

    FUrlpath = parts.path;
    if (FUrlpath.empty() || FUrlpath[0] != L'/')
        FUrlpath.insert(0, L"/");
    if (parts.hasQuery)
        FExtra += L"?" + parts.query;
    if (parts.hasFragment)
        FExtra += L"#" + parts.fragment;
    return true;
}

std::wstring TnetUrlParser::Scheme() const {
    const SchemeInfo* s = FindScheme(FUrlType);
    return s ? s->name : L"";
}

std::wstring TnetUrlParser::HostAddress() const {
    if (FHost.size() >= 2 && FHost.front() == L'[' && FHost.back() == L']')
        return FHost.substr(1, FHost.size() - 2);
    return FHost;
}

std::wstring TnetUrlParser::AbsolutePath() const {
    if (FHost == L"*")
        return FHost;
    std::wstring target = FUrlpath;
    if (!FExtra.empty()) {
        const bool hasQuestionMark = FExtra[0] == L'?' || (!target.empty() && target.back() == L'?');
        if (!hasQuestionMark)
            target += L'?';
        target += FExtra;
    }
    if (target.empty())
        target = L"/";
    return EncodeUrl(target, FCharSet);
}

}  // namespace memoline
