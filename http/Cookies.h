// The cookies of the HTTP client: parsed from "Set-Cookie" and "Set-Cookie2" lines, held in memory for
// the life of the client and sent back in one "Cookie" line. No platform code.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace memoline {

struct TnetCookieItem {
    std::wstring Name;
    std::wstring Value;
    std::wstring Expires;  // as received
    std::wstring Domain;   // with a leading "."
    std::wstring Path;     // "/" when none was given or derived
    bool Secure = false;
    std::wstring Comment;
    std::wstring MaxAge;
    std::wstring Version;
    std::wstring CommentUrl;
    std::wstring Port;  // a list of ports, such as "80,8080"; empty for any
    bool Discard = false;
    // When the cookie expires, in seconds since 1970; 0 for a session cookie. A cookie whose
    // "max-age" is 0 or negative, or whose date lies in the past, is already expired.
    int64_t ExpiresAt = 0;
    bool IsExpired(int64_t now) const { return ExpiresAt != 0 && ExpiresAt <= now; }
};

using TnetCookieList = std::vector<TnetCookieItem>;

// The cookies of a response's "Set-Cookie" and "Set-Cookie2" lines. A missing domain is the request's
// host; a missing path is the directory of the request path.
TnetCookieList ParseResponseCookies(const std::vector<std::wstring>& headerLines,
                                    std::wstring_view requestHost,
                                    std::wstring_view requestPath,
                                    int64_t now);

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
// "Sun Nov  6 08:49:37 1994") in seconds since 1970; -1 when it cannot be read.
int64_t ParseHttpDate(std::wstring_view text);

// The jar: all cookies the client has received. Guarded by its own lock.
class TnetCookieManager {
public:
    // Drops expired entries; a cookie with the same name, domain and path (case-insensitive) replaces
    // the old one, or removes it when already expired; others are added.
    void Merge(const TnetCookieList& cookies, int64_t now);
    // The "Cookie" value for a request: matching cookies sorted by name, then by path descending,
    // as name=value pairs joined by "; ". Empty when none match.
    std::wstring CookieHeader(std::wstring_view host, std::wstring_view path, int port, bool secure, int64_t now) const;
    size_t Count() const;

private:
    mutable std::mutex lock_;
    TnetCookieList items_;
};

}  // namespace memoline
