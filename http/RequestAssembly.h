// The rules of one HTTP exchange that need no connection: request header assembly, the keep-alive
// decision and the expected body length. No platform code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/TextUtil.h"
#include "http/HeaderFieldList.h"

namespace memoline {

enum class TnetHttpVersion { hvHttp1_0, hvHttp1_1 };

// Header lines as text, one field per line (continuation lines start with a space or a tab). Fields
// are found and edited with TnetHeaderFieldList, the one reader of header lines.
using TnetHeaderLines = TnetStringList;

// Removes the first field of that name (any case) with its continuation lines.
void RemoveHeaderField(TnetHeaderLines& lines, std::wstring_view name);

// What the assembly needs besides the request's own header lines.
struct TnetRequestHeaderSettings {
    std::wstring Method;
    std::wstring Target;  // the percent-encoded request target
    TnetHttpVersion Version = TnetHttpVersion::hvHttp1_1;
    std::wstring Host;  // the "Host" value: host, and ":" port unless the port is 80 or 443
    std::wstring UserAgent;
    int64_t BodyBytesLeft = 0;
    bool AllowCompression = true;
    bool AllowCaching = true;
    bool KeepConnection = true;
    bool UseProxy = false;
    bool Expect100Continue = false;
    bool AllowCookies = true;  // replaces any "Cookie" line by Cookies
    std::wstring Cookies;      // the "Cookie" value; empty for none
};

// The "Host" value: the port is left out when it is 80 or 443, whatever the scheme.
std::wstring HostFieldValue(std::wstring_view host, int port);

// The request header lines, request line first, ending with one empty line. `lines` are the
// request's own header lines; new fields are appended after the last of them.
TnetHeaderLines AssembleRequestHeader(TnetHeaderLines lines, const TnetRequestHeaderSettings& settings);

// The lines joined with CR LF, as US-ASCII bytes (other characters become "?").
std::string HeaderLinesToBytes(const TnetHeaderLines& lines);

// Whether the connection may be reused after a response: with HTTP/1.1 on both sides unless the
// response's connection value is "close", otherwise only when it is "Keep-Alive" (case-insensitive,
// whole value).
bool MayKeepConnection(bool keepConnection,
                       TnetHttpVersion request,
                       TnetHttpVersion response,
                       std::wstring_view connectionValue);

// The body length of a response that is not chunked: 0 where HTTP allows no body (HEAD, 1xx, 204,
// 304, a successful CONNECT), else the Content-Length, or kOpenEnded when the body lasts until the
// server closes the connection.
inline constexpr int64_t kOpenEnded = -1;
int64_t ExpectedBodyLength(std::wstring_view method,
                           int statusCode,
                           TnetHttpVersion request,
                           TnetHttpVersion response,
                           std::wstring_view contentLength);

// The Content-Length of a response's header lines (status line first): kNoContentLength when no field
// has the name; kInvalidContentLength when a value is empty, negative, not a decimal number, has more
// than 18 digits, or when the fields (or the items of a comma list) give different numbers.
inline constexpr int64_t kNoContentLength = -1;
inline constexpr int64_t kInvalidContentLength = -2;
int64_t ResponseContentLength(const TnetHeaderLines& lines);

}  // namespace memoline
