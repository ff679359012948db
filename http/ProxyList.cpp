#include "http/ProxyList.h"

#include <vector>

#include "core/TextUtil.h"

namespace memoline {
namespace {

std::vector<std::wstring> SplitEntries(const std::wstring& list, const wchar_t* separators) {
    std::vector<std::wstring> entries;
    size_t pos = 0;
    while (pos < list.size()) {
        size_t start = list.find_first_not_of(separators, pos);
        if (start == std::wstring::npos)
            break;
        size_t end = list.find_first_of(separators, start);
        if (end == std::wstring::npos)
            end = list.size();
        entries.push_back(list.substr(start, end - start));
        pos = end;
    }
    return entries;
}

std::wstring WithoutScheme(const std::wstring& text) {
    size_t sep = text.find(L"://");
    return sep == std::wstring::npos ? text : text.substr(sep + 3);
}

bool ParseServer(const std::wstring& text, TnetProxyServer& server) {
    std::wstring rest = WithoutScheme(text);
    while (!rest.empty() && rest.back() == L'/')
        rest.pop_back();
    size_t colon = rest.rfind(L':');
    size_t bracket = rest.rfind(L']');
    server = TnetProxyServer{};
    if (colon != std::wstring::npos && (bracket == std::wstring::npos || colon > bracket)) {
        const std::wstring port = rest.substr(colon + 1);
        rest.resize(colon);
        if (port.empty() || port.size() > 5 || port.find_first_not_of(L"0123456789") != std::wstring::npos)
            return false;
        server.Port = std::stoi(port);
        if (server.Port < 1 || server.Port > 65535)
            return false;
    }
    if (rest.size() > 2 && rest.front() == L'[' && rest.back() == L']')
        rest = rest.substr(1, rest.size() - 2);
    server.Host = rest;
    return !rest.empty();
}

bool WildcardMatch(const std::wstring& pattern, const std::wstring& text) {
    size_t p = 0, t = 0, star = std::wstring::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*')
        ++p;
    return p == pattern.size();
}

bool IsLoopback(const std::wstring& host) {
    return host == L"localhost" || host.rfind(L"127.", 0) == 0 || host == L"::1" || host == L"[::1]";
}

// The host part of a bypass entry: without scheme, port and IPv6 brackets.
std::wstring EntryHost(const std::wstring& entry) {
    std::wstring rest = WithoutScheme(entry);
    if (!rest.empty() && rest.front() == L'[') {
        size_t close = rest.find(L']');
        return close == std::wstring::npos ? rest : rest.substr(1, close - 1);
    }
    if (rest.find(L':') == rest.rfind(L':') && rest.find(L':') != std::wstring::npos)
        rest.resize(rest.find(L':'));
    return rest;
}

}  // namespace

bool SelectProxyServer(const std::wstring& list, const std::wstring& scheme, TnetProxyServer& server) {
    const std::wstring wanted = LowerAscii(scheme);
    bool found = false;
    TnetProxyServer general;
    bool haveGeneral = false;
    for (const std::wstring& entry : SplitEntries(list, L"; \t\r\n")) {
        const size_t eq = entry.find(L'=');
        TnetProxyServer candidate;
        if (eq == std::wstring::npos) {
            if (!haveGeneral && ParseServer(entry, candidate)) {
                general = candidate;
                haveGeneral = true;
            }
            continue;
        }
        if (!found && LowerAscii(entry.substr(0, eq)) == wanted && ParseServer(entry.substr(eq + 1), candidate)) {
            server = candidate;
            found = true;
        }
    }
    if (!found && haveGeneral) {
        server = general;
        found = true;
    }
    return found;
}

bool BypassesProxy(const std::wstring& bypassList, const std::wstring& host) {
    const std::wstring name =
        LowerAscii(host.size() > 2 && host.front() == L'[' ? host.substr(1, host.size() - 2) : host);
    bool loopbackDirect = true;
    for (const std::wstring& raw : SplitEntries(bypassList, L"; ,\t\r\n")) {
        const std::wstring entry = LowerAscii(raw);
        if (entry == L"<-loopback>") {
            loopbackDirect = false;
        } else if (entry == L"<local>") {
            if (name.find(L'.') == std::wstring::npos && name.find(L':') == std::wstring::npos)
                return true;
        } else if (WildcardMatch(EntryHost(entry), name)) {
            return true;
        }
    }
    return loopbackDirect && IsLoopback(name);
}

}  // namespace memoline
