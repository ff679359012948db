// The system's proxy settings as text: which proxy of a proxy server list serves a URL scheme, and
// whether a host is on the bypass list. Text only, so it builds and is tested in the host lane too.
#pragma once

#include <string>

namespace memoline {

struct TnetProxyServer {
    std::wstring Host;
    int Port = 80;
};

// Picks the proxy for `scheme` ("http" or "https") from a proxy server list as the system stores it:
// "host:port" for every scheme, or entries "scheme=host:port" separated by ";" or blanks, where an
// entry for the scheme wins over one without a scheme. SOCKS entries are not used. False when the
// list names no proxy for the scheme (the request then goes direct).
bool SelectProxyServer(const std::wstring& list, const std::wstring& scheme, TnetProxyServer& server);

// Whether `host` goes direct under the bypass list: entries separated by ";" (or blanks and commas),
// each a host pattern with "*" wildcards (letter case ignored; a scheme or a port in the entry is
// ignored), "<local>" for names without a dot. Loopback hosts (localhost, 127.x.x.x, ::1) go direct
// unless the list holds "<-loopback>", as with the system's own HTTP stack.
bool BypassesProxy(const std::wstring& bypassList, const std::wstring& host);

}  // namespace memoline
