#include "http/RequestAssembly.h"

#include <cwctype>

namespace memoline {
namespace {

std::wstring_view TrimView(std::wstring_view s) {
    while (!s.empty() && static_cast<uint32_t>(s.front()) <= 0x20)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<uint32_t>(s.back()) <= 0x20)
        s.remove_suffix(1);
    return s;
}

bool IsContinuation(const std::wstring& line) {
    return !line.empty() && (line[0] == L' ' || line[0] == L'\t');
}

// A first line such as "POST /x HTTP/1.1": it has a space, before any colon.
bool LooksLikeRequestLine(const std::wstring& line) {
    const size_t space = line.find(L' ');
    if (space == std::wstring::npos)
        return false;
    const size_t colon = line.find(L':');
    return colon == std::wstring::npos || space < colon;
}

// A decimal 64-bit number, or 0.
int64_t ParseInt64(std::wstring_view s) {
    s = TrimView(s);
    if (s.empty() || s.size() > 18)
        return 0;
    int64_t value = 0;
    for (wchar_t c : s) {
        if (c < L'0' || c > L'9')
            return 0;
        value = value * 10 + (c - L'0');
    }
    return value;
}

void AddField(TnetHeaderLines& lines, std::wstring_view name, std::wstring_view value) {
    if (value.empty())
        return;
    lines.push_back(std::wstring(name) + L": " + std::wstring(value));
}

void AddFieldIfNotExist(TnetHeaderLines& lines, std::wstring_view name, std::wstring_view value) {
    if (FindHeaderField(lines, name) < 0)
        AddField(lines, name, value);
}

void RemoveAllFields(TnetHeaderLines& lines, std::wstring_view name) {
    while (FindHeaderField(lines, name) >= 0)
        RemoveHeaderField(lines, name);
}

}  // namespace

bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return true;
}

int FindHeaderField(const TnetHeaderLines& lines, std::wstring_view name) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        if (IsContinuation(line))
            continue;
        const size_t colon = line.find(L':');
        if (colon == std::wstring::npos)
            continue;
        if (SameTextIgnoringCase(TrimView(std::wstring_view(line).substr(0, colon)), name))
            return static_cast<int>(i);
    }
    return -1;
}

std::wstring HeaderFieldValue(const TnetHeaderLines& lines, std::wstring_view name) {
    const int index = FindHeaderField(lines, name);
    if (index < 0)
        return {};
    std::wstring value = lines[index].substr(lines[index].find(L':') + 1);
    for (size_t i = index + 1; i < lines.size() && IsContinuation(lines[i]); ++i)
        value += lines[i][0] == L'\t' ? lines[i].substr(1) : lines[i];
    return std::wstring(TrimView(value));
}

void RemoveHeaderField(TnetHeaderLines& lines, std::wstring_view name) {
    const int index = FindHeaderField(lines, name);
    if (index < 0)
        return;
    size_t end = index + 1;
    while (end < lines.size() && IsContinuation(lines[end]))
        ++end;
    lines.erase(lines.begin() + index, lines.begin() + end);
}

std::wstring HostFieldValue(std::wstring_view host, int port) {
    std::wstring value(host);
    if (port != 80 && port != 443)
        value += L":" + std::to_wstring(port);
    return value;
}

TnetHeaderLines AssembleRequestHeader(TnetHeaderLines lines, const TnetRequestHeaderSettings& s) {
    if (!lines.empty() && LooksLikeRequestLine(lines.front()))
        lines.erase(lines.begin());
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();

    const wchar_t* version = s.Version == TnetHttpVersion::hvHttp1_0 ? L"HTTP/1.0" : L"HTTP/1.1";
    lines.insert(lines.begin(), s.Method + L" " + s.Target + L" " + version);

    RemoveAllFields(lines, L"Host");
    if (s.AllowCompression)
        AddFieldIfNotExist(lines, L"Accept-Encoding", L"gzip");
    AddField(lines, L"Host", s.Host);
    AddFieldIfNotExist(lines, L"User-Agent", s.UserAgent);

    const bool hasLength = FindHeaderField(lines, L"Content-Length") >= 0;
    if (hasLength && ParseInt64(HeaderFieldValue(lines, L"Content-Length")) != 0 && s.BodyBytesLeft <= 0) {
        // What remains when a redirect has turned a POST into a GET without body.
        RemoveHeaderField(lines, L"Content-Length");
        RemoveHeaderField(lines, L"Content-Type");
    } else if (!hasLength && s.BodyBytesLeft > 0) {
        AddField(lines, L"Content-Length", std::to_wstring(s.BodyBytesLeft));
    } else if (!hasLength && SameTextIgnoringCase(s.Method, L"POST")) {
        AddField(lines, L"Content-Length", L"0");
    }

    if (!s.AllowCaching) {
        if (s.Version == TnetHttpVersion::hvHttp1_0)
            AddFieldIfNotExist(lines, L"Pragma", L"no-cache");
        else
            AddFieldIfNotExist(lines, L"Cache-Control", L"no-cache");
    }
    if (s.KeepConnection) {
        const wchar_t* name = s.UseProxy ? L"Proxy-Connection" : L"Connection";
        AddFieldIfNotExist(lines, name, L"Keep-Alive");
    }
    RemoveAllFields(lines, L"Expect");
    if (s.Expect100Continue && s.BodyBytesLeft > 0)
        AddField(lines, L"Expect", L"100-continue");
    if (s.AllowCookies) {
        RemoveAllFields(lines, L"Cookie");
        AddField(lines, L"Cookie", s.Cookies);
    }
    lines.emplace_back();
    return lines;
}

std::string HeaderLinesToBytes(const TnetHeaderLines& lines) {
    std::string bytes;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            bytes += "\r\n";
        for (wchar_t c : lines[i])
            bytes += static_cast<uint32_t>(c) < 0x80 ? static_cast<char>(c) : '?';
    }
    // The empty last line gives the closing CR LF CR LF.
    bytes += "\r\n";
    return bytes;
}

bool MayKeepConnection(bool keepConnection, TnetHttpVersion request, TnetHttpVersion response,
                       std::wstring_view connectionValue) {
    if (!keepConnection)
        return false;
    if (request == TnetHttpVersion::hvHttp1_1 && response == TnetHttpVersion::hvHttp1_1)
        return !SameTextIgnoringCase(connectionValue, L"close");
    return SameTextIgnoringCase(connectionValue, L"Keep-Alive");
}

int64_t ExpectedBodyLength(std::wstring_view method, int statusCode, TnetHttpVersion /*request*/,
                           TnetHttpVersion /*response*/, std::wstring_view contentLength) {
    // Only these answers have no body, whatever their header says. Every other one has a body, also a
    // redirect, a challenge or an error: left unread, it would stay in a kept-alive connection and be
    // taken for the next answer's status line.
    if (SameTextIgnoringCase(method, L"HEAD") || (statusCode >= 100 && statusCode < 200) || statusCode == 204 ||
        statusCode == 304 || (statusCode >= 200 && statusCode < 300 && SameTextIgnoringCase(method, L"CONNECT")))
        return 0;
    if (!TrimView(contentLength).empty())
        return ParseInt64(contentLength);
    // Neither a length nor chunks (the caller checks those first): the body ends when the server closes.
    return kOpenEnded;
}

}  // namespace memoline
