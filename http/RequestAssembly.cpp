#include "http/RequestAssembly.h"

#include "core/TextUtil.h"

namespace memoline {
namespace {

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

// One Content-Length item, or kInvalidContentLength.
int64_t ParseLengthItem(std::wstring_view s) {
    s = TrimView(s);
    if (s.empty() || s.size() > 18)
        return kInvalidContentLength;
    for (wchar_t c : s) {
        if (c < L'0' || c > L'9')
            return kInvalidContentLength;
    }
    return ParseInt64(s);
}

void RemoveAllFields(TnetHeaderFieldList& fields, std::wstring_view name) {
    while (fields.FieldExists(name))
        fields.RemoveField(name);
}

}  // namespace

void RemoveHeaderField(TnetHeaderLines& lines, std::wstring_view name) {
    TnetHeaderFieldList fields;
    fields.Parse(0, &lines);
    fields.RemoveField(name);
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

    // New fields go after the last header line, below the request line.
    TnetHeaderFieldList fields;
    fields.Parse(1, &lines);
    RemoveAllFields(fields, L"Host");
    if (s.AllowCompression)
        fields.AddFieldIfNotExist(L"Accept-Encoding", L"gzip");
    fields.AddField(L"Host", s.Host);
    fields.AddFieldIfNotExist(L"User-Agent", s.UserAgent);

    const bool hasLength = fields.FieldExists(L"Content-Length");
    if (hasLength && ParseInt64(fields.GetFieldValue(L"Content-Length")) != 0 && s.BodyBytesLeft <= 0) {
        // What remains when a redirect has turned a POST into a GET without body.
        fields.RemoveField(L"Content-Length");
        fields.RemoveField(L"Content-Type");
    } else if (!hasLength && s.BodyBytesLeft > 0) {
        fields.AddField(L"Content-Length", std::to_wstring(s.BodyBytesLeft));
    } else if (!hasLength && SameTextAscii(s.Method, L"POST")) {
        fields.AddField(L"Content-Length", L"0");
    }

    if (!s.AllowCaching) {
        if (s.Version == TnetHttpVersion::hvHttp1_0)
            fields.AddFieldIfNotExist(L"Pragma", L"no-cache");
        else
            fields.AddFieldIfNotExist(L"Cache-Control", L"no-cache");
    }
    if (s.KeepConnection) {
        const wchar_t* name = s.UseProxy ? L"Proxy-Connection" : L"Connection";
        fields.AddFieldIfNotExist(name, L"Keep-Alive");
    }
    RemoveAllFields(fields, L"Expect");
    if (s.Expect100Continue && s.BodyBytesLeft > 0)
        fields.AddField(L"Expect", L"100-continue");
    if (s.AllowCookies) {
        RemoveAllFields(fields, L"Cookie");
        fields.AddField(L"Cookie", s.Cookies);
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

bool MayKeepConnection(bool keepConnection,
                       TnetHttpVersion request,
                       TnetHttpVersion response,
                       std::wstring_view connectionValue) {
    if (!keepConnection)
        return false;
    if (request == TnetHttpVersion::hvHttp1_1 && response == TnetHttpVersion::hvHttp1_1)
        return !SameTextAscii(connectionValue, L"close");
    return SameTextAscii(connectionValue, L"Keep-Alive");
}

int64_t ExpectedBodyLength(std::wstring_view method,
                           int statusCode,
                           TnetHttpVersion /*request*/,
                           TnetHttpVersion /*response*/,
                           std::wstring_view contentLength) {
    // Only these answers have no body, whatever their header says. Every other one has a body, also a
    // redirect, a challenge or an error: left unread, it would stay in a kept-alive connection and be
    // taken for the next answer's status line.
    if (SameTextAscii(method, L"HEAD") || (statusCode >= 100 && statusCode < 200) || statusCode == 204 ||
        statusCode == 304 || (statusCode >= 200 && statusCode < 300 && SameTextAscii(method, L"CONNECT")))
        return 0;
    if (!TrimView(contentLength).empty())
        return ParseInt64(contentLength);
    // Neither a length nor chunks (the caller checks those first): the body ends when the server closes.
    return kOpenEnded;
}

int64_t ResponseContentLength(const TnetHeaderLines& lines) {
    TnetHeaderLines copy = lines;
    TnetHeaderFieldList fields;
    fields.Parse(1, &copy);
    int64_t length = kNoContentLength;
    for (size_t i = 0; i < fields.FieldCount(); ++i) {
        if (!SameTextAscii(fields.FieldName(i), L"Content-Length"))
            continue;
        const std::wstring value = fields.FieldValueAt(i);
        std::wstring_view rest = value;
        // "5, 5" is one length repeated; "5, 6", or two fields that differ, leave the body's end unknown.
        while (true) {
            const size_t comma = rest.find(L',');
            const int64_t item = ParseLengthItem(rest.substr(0, comma));
            if (item == kInvalidContentLength || (length != kNoContentLength && item != length))
                return kInvalidContentLength;
            length = item;
            if (comma == std::wstring_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }
    return length;
}

}  // namespace memoline
