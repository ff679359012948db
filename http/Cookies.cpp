#include "http/Cookies.h"

#include <algorithm>
#include <cwchar>

#include "core/TextUtil.h"

namespace memoline {
namespace {

std::wstring Unquote(std::wstring s) {
    if (s.size() >= 2 && s.front() == L'"' && s.back() == L'"')
        return s.substr(1, s.size() - 2);
    return s;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int MonthNumber(std::wstring_view name) {
    static const wchar_t* const kMonths[] = {L"jan", L"feb", L"mar", L"apr", L"may", L"jun",
                                             L"jul", L"aug", L"sep", L"oct", L"nov", L"dec"};
    if (name.size() < 3)
        return 0;
    const std::wstring head = LowerAscii(name.substr(0, 3));
    for (int i = 0; i < 12; ++i) {
        if (head == kMonths[i])
            return i + 1;
    }
    return 0;
}

bool AllDigits(std::wstring_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

bool DomainMatches(std::wstring_view host, std::wstring_view domain) {
    const std::wstring dotted = L"." + LowerAscii(host);
    const std::wstring d = LowerAscii(domain);
    return dotted.size() >= d.size() && dotted.compare(dotted.size() - d.size(), d.size(), d) == 0;
}

bool PathMatches(std::wstring_view requestPath, std::wstring_view cookiePath) {
    if (requestPath.substr(0, cookiePath.size()) != cookiePath)
        return false;
    return requestPath.size() == cookiePath.size() || cookiePath.back() == L'/' ||
           requestPath[cookiePath.size()] == L'/';
}

bool PortMatches(std::wstring_view list, int port) {
    if (Trim(list).empty())
        return true;
    const std::wstring wanted = std::to_wstring(port);
    size_t start = 0;
    const std::wstring text = Unquote(Trim(list));
    while (start <= text.size()) {
        const size_t comma = text.find(L',', start);
        if (Trim(std::wstring_view(text).substr(start, comma == std::wstring::npos ? comma : comma - start)) == wanted)
            return true;
        if (comma == std::wstring::npos)
            break;
        start = comma + 1;
    }
    return false;
}

// The default path of RFC 6265: the request path up to, not including, its last "/".
std::wstring DefaultPath(std::wstring_view requestPath) {
    requestPath = requestPath.substr(0, requestPath.find_first_of(L"?#"));
    if (requestPath.empty() || requestPath[0] != L'/')
        return L"/";
    const size_t last = requestPath.rfind(L'/');
    return last == 0 ? std::wstring(L"/") : std::wstring(requestPath.substr(0, last));
}

// One "name=value" piece of a Set-Cookie value, both trimmed; the value is empty without "=".
struct CookiePart {
    std::wstring name;
    std::wstring value;
};

// The piece that starts at `start`; moves `start` past its ";" (beyond the end after the last piece).
CookiePart NextCookiePart(std::wstring_view text, size_t& start) {
    const size_t semi = text.find(L';', start);
    const std::wstring_view part = text.substr(start, semi == std::wstring_view::npos ? semi : semi - start);
    start = semi == std::wstring_view::npos ? text.size() + 1 : semi + 1;
    const size_t eq = part.find(L'=');
    return {Trim(part.substr(0, eq)), eq == std::wstring_view::npos ? std::wstring() : Trim(part.substr(eq + 1))};
}

// "expires": a date that can be read sets the expiry, unless a "max-age" came first (it wins).
void ApplyExpires(TnetCookieItem& item, const std::wstring& value, bool hasMaxAge) {
    item.Expires = value;
    if (hasMaxAge)
        return;
    const int64_t at = ParseHttpDate(value);
    if (at >= 0)
        item.ExpiresAt = at == 0 ? 1 : at;
}

// "max-age": seconds from now; zero or a negative number means already expired (time 1).
void ApplyMaxAge(TnetCookieItem& item, const std::wstring& value, int64_t now) {
    item.MaxAge = value;
    const std::wstring digits = Unquote(value);
    if (!digits.empty() && digits[0] == L'-') {
        item.ExpiresAt = 1;
    } else if (AllDigits(digits) && digits.size() < 12) {
        const int64_t seconds = std::stoll(digits);
        item.ExpiresAt = seconds == 0 ? 1 : now + seconds;
    }
}

// One attribute after the cookie's own name and value; unknown attributes are ignored.
void ApplyCookieAttribute(TnetCookieItem& item, const CookiePart& part, int64_t now, bool& hasMaxAge) {
    const std::wstring attr = LowerAscii(part.name);
    const std::wstring& value = part.value;
    if (attr == L"expires") {
        ApplyExpires(item, value, hasMaxAge);
    } else if (attr == L"domain") {
        item.Domain = Unquote(value);
    } else if (attr == L"path") {
        item.Path = Unquote(value);
    } else if (attr == L"secure") {
        item.Secure = true;
    } else if (attr == L"comment") {
        item.Comment = value;
    } else if (attr == L"max-age") {
        ApplyMaxAge(item, value, now);
        hasMaxAge = true;
    } else if (attr == L"version") {
        item.Version = value;
    } else if (attr == L"commenturl") {
        item.CommentUrl = value;
    } else if (attr == L"port") {
        item.Port = value;
    } else if (attr == L"discard") {
        item.Discard = true;
    }
}

// A missing domain is the request's host, always with a leading "."; a missing path is the default
// path of the request.
void FillCookieDefaults(TnetCookieItem& item, std::wstring_view requestHost, std::wstring_view requestPath) {
    if (item.Domain.empty())
        item.Domain = requestHost;
    if (item.Domain[0] != L'.')
        item.Domain.insert(0, L".");
    if (item.Path.empty())
        item.Path = DefaultPath(requestPath);
}

bool ParseCookie(std::wstring_view text,
                 std::wstring_view requestHost,
                 std::wstring_view requestPath,
                 int64_t now,
                 TnetCookieItem& item) {
    size_t start = 0;
    const CookiePart own = NextCookiePart(text, start);
    if (own.name.empty())
        return false;
    item.Name = own.name;
    item.Value = own.value;
    bool hasMaxAge = false;
    while (start <= text.size())
        ApplyCookieAttribute(item, NextCookiePart(text, start), now, hasMaxAge);
    FillCookieDefaults(item, requestHost, requestPath);
    return true;
}

}  // namespace

int64_t ParseHttpDate(std::wstring_view text) {
    // Tokens split at blanks, commas and "-"; the month by name; the time as hh:mm:ss.
    std::vector<std::wstring> tokens;
    std::wstring current;
    for (wchar_t c : text) {
        if (c == L' ' || c == L',' || c == L'-' || c == L'\t') {
            if (!current.empty())
                tokens.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        tokens.push_back(current);
    int day = -1, month = 0, hour = -1, minute = 0, second = 0;
    int64_t year = -1;
    for (const auto& t : tokens) {
        if (t.find(L':') != std::wstring::npos && hour < 0) {
            if (std::swscanf(t.c_str(), L"%d:%d:%d", &hour, &minute, &second) < 2)
                return -1;
        } else if (month == 0 && MonthNumber(t) != 0 && !AllDigits(t)) {
            month = MonthNumber(t);
        } else if (AllDigits(t) && t.size() <= 2 && day < 0) {
            day = std::stoi(t);
        } else if (AllDigits(t) && year < 0 && t.size() <= 4) {
            year = std::stoll(t);
            if (t.size() <= 2)
                year += year < 70 ? 2000 : 1900;
        }
    }
    if (day < 1 || day > 31 || month == 0 || year < 1601 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 60)
        return -1;
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
           minute * 60 + second;
}

TnetCookieList ParseResponseCookies(const std::vector<std::wstring>& headerLines,
                                    std::wstring_view requestHost,
                                    std::wstring_view requestPath,
                                    int64_t now) {
    TnetCookieList cookies;
    for (const auto& line : headerLines) {
        const size_t colon = line.find(L':');
        if (colon == std::wstring::npos)
            continue;
        const std::wstring name = LowerAscii(Trim(std::wstring_view(line).substr(0, colon)));
        if (name != L"set-cookie" && name != L"set-cookie2")
            continue;
        TnetCookieItem item;
        if (ParseCookie(std::wstring_view(line).substr(colon + 1), requestHost, requestPath, now, item))
            cookies.push_back(std::move(item));
    }
    return cookies;
}

void TnetCookieManager::Merge(const TnetCookieList& cookies, int64_t now) {
    std::lock_guard<std::mutex> guard(lock_);
    items_.erase(std::remove_if(items_.begin(), items_.end(), [now](const auto& c) { return c.IsExpired(now); }),
                 items_.end());
    for (const auto& cookie : cookies) {
        auto same = std::find_if(items_.begin(), items_.end(), [&](const TnetCookieItem& c) {
            return SameTextAscii(c.Name, cookie.Name) && SameTextAscii(c.Domain, cookie.Domain) &&
                   SameTextAscii(c.Path, cookie.Path);
        });
        if (same != items_.end())
            items_.erase(same);
        if (!cookie.IsExpired(now))
            items_.push_back(cookie);
    }
}

std::wstring TnetCookieManager::CookieHeader(std::wstring_view host,
                                             std::wstring_view path,
                                             int port,
                                             bool secure,
                                             int64_t now) const {
    std::vector<const TnetCookieItem*> matching;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& c : items_) {
            if (c.IsExpired(now) || (c.Secure && !secure) || !DomainMatches(host, c.Domain) ||
                !PathMatches(path, c.Path) || !PortMatches(c.Port, port))
                continue;
            matching.push_back(&c);
        }
        std::stable_sort(matching.begin(), matching.end(), [](const TnetCookieItem* a, const TnetCookieItem* b) {
            const std::wstring an = LowerAscii(a->Name), bn = LowerAscii(b->Name);
            if (an != bn)
                return an < bn;
            return LowerAscii(a->Path) > LowerAscii(b->Path);
        });
        std::wstring header;
        for (const auto* c : matching) {
            if (!header.empty())
                header += L"; ";
            header += c->Name + L"=" + c->Value;
        }
        return header;
    }
}

size_t TnetCookieManager::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return items_.size();
}

}  // namespace memoline
