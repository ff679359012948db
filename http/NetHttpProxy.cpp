// The form-post client's road through a proxy: a tunnel (CONNECT) for HTTPS, with the TLS channel
// and its certificate checks running inside it unchanged; plain HTTP goes to the proxy with the
// absolute target. A 407 is answered from the proxy settings or from the operator, a few times.
#include "http/NetErrors.h"
#include "http/NetHttp.h"
#include "http/NetHttpAuth.h"

namespace memoline {
namespace {

std::string Ascii(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// "host:port" of a CONNECT request; the port is always given, an IPv6 address is bracketed.
std::wstring TunnelAuthority(const std::wstring& host, int port) {
    const bool ipv6 = host.find(L':') != std::wstring::npos && host.front() != L'[';
    return (ipv6 ? L"[" + host + L"]" : host) + L":" + std::to_wstring(port);
}

}  // namespace

void TnetHttp::ConnectThroughProxy() {
    const bool tunnel = FUrl.UrlType() == TnetUrlType::utHTTPS;
    const std::wstring target = tunnel ? TunnelAuthority(FUrl.HostAddress(), FUrl.Port()) : std::wstring();
    if (Active() && (Server != ProxySettings.Server || Port != ProxySettings.Port || FTunnelTarget != target))
        Close();
    Server = ProxySettings.Server;
    Port = ProxySettings.Port;
    UseTLS = TnetClientTlsMode::ctNone;  // to the proxy in plain; a tunnel's TLS starts after CONNECT
    if (Active())
        return;
    FTunnelTarget.clear();
    Open();
    if (tunnel)
        OpenTunnel(target);
    FTunnelTarget = target;
}

void TnetHttp::OpenTunnel(const std::wstring& authority) {
    std::wstring proxyAuthorization;
    for (int attempt = 1;; ++attempt) {
        std::wstring head = L"CONNECT " + authority + L" HTTP/1.1\r\nHost: " + authority + L"\r\nUser-Agent: " +
                            UserAgent + L"\r\nProxy-Connection: Keep-Alive\r\n";
        if (!proxyAuthorization.empty())
            head += L"Proxy-Authorization: " + proxyAuthorization + L"\r\n";
        head += L"\r\n";
        TnetStringStream out(Ascii(head));
        Connection().WriteData(&out);

        const std::wstring text = ReadConnectAnswer();
        if (FStatusCode >= 200 && FStatusCode < 300)
            break;
        if (FStatusCode != 407 || !ProxyCredentialsFor(attempt)) {
            Close();
            RaiseHttpError(text);
        }
        if (!FProxyAuthenticator)
            FProxyAuthenticator = std::make_unique<TnetHttpAuthenticator>(AuthConversations);
        bool needFresh = false;
        // The system's proxy gets the logged-on user's credentials, as WinINet gives them to it.
        proxyAuthorization = FProxyAuthenticator->Answer(FResponseHeader.ProxyAuthenticate(), ProxySettings.UserName,
                                                         ProxySettings.Password, ProxySettings.Server, true, needFresh);
        if (proxyAuthorization.empty()) {
            Close();
            RaiseHttpError(text);
        }
        const bool keep =
            MayKeepConnection(KeepConnection, HttpVersion, FResponseVersion,
                              !FResponseHeader.ProxyConnection().empty() ? FResponseHeader.ProxyConnection()
                                                                         : FResponseHeader.Connection());
        if (!keep || (attempt == 1 && needFresh)) {
            Close();
            Open();
        }
    }
    StartTlsOnOpenConnection(FUrl.HostAddress());
}

bool TnetHttp::ProxyCredentialsFor(int attempt) {
    if (attempt > kProxySignInAttempts)
        return false;
    const bool known = !ProxySettings.UserName.empty() || !ProxySettings.Password.empty();
    if (attempt == 1 && known)
        return true;
    if (!OnProxyLogin)
        return false;
    return OnProxyLogin(this, ProxySettings.Server, attempt > 1, ProxySettings.UserName, ProxySettings.Password);
}

}  // namespace memoline
