#include "http/SystemProxyScript.h"

#include <windows.h>

#include <winhttp.h>

#include "core/LazyLibrary.h"

namespace memoline {
namespace {

// WinHTTP only answers proxy scripts here, which few sites have: loaded on first use, not at start-up.
namespace winhttp {

core::TLazyLibrary& Library() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"winhttp.dll");  // for the process's life
    return *library;
}

HINTERNET WinHttpOpen(const wchar_t* agent,
                      DWORD accessType,
                      const wchar_t* proxy,
                      const wchar_t* bypass,
                      DWORD flags) {
    static const core::TLazyFunction<decltype(&::WinHttpOpen)> fn(Library(), "WinHttpOpen");
    return fn.CallOr(HINTERNET{}, agent, accessType, proxy, bypass, flags);
}

BOOL WinHttpCloseHandle(HINTERNET handle) {
    static const core::TLazyFunction<decltype(&::WinHttpCloseHandle)> fn(Library(), "WinHttpCloseHandle");
    return fn.CallOr(FALSE, handle);
}

BOOL WinHttpSetTimeouts(HINTERNET handle, int resolve, int connect, int send, int receive) {
    static const core::TLazyFunction<decltype(&::WinHttpSetTimeouts)> fn(Library(), "WinHttpSetTimeouts");
    return fn.CallOr(FALSE, handle, resolve, connect, send, receive);
}

BOOL WinHttpGetProxyForUrl(HINTERNET session,
                           const wchar_t* url,
                           WINHTTP_AUTOPROXY_OPTIONS* options,
                           WINHTTP_PROXY_INFO* info) {
    static const core::TLazyFunction<decltype(&::WinHttpGetProxyForUrl)> fn(Library(), "WinHttpGetProxyForUrl");
    return fn.CallOr(FALSE, session, url, options, info);
}

}  // namespace winhttp

// Finding and fetching a script must not hold the check up for long.
constexpr int kScriptTimeoutMs = 10000;

struct TWinHttpSession {
    HINTERNET handle = winhttp::WinHttpOpen(L"Memoline Server Updates",
                                            WINHTTP_ACCESS_TYPE_NO_PROXY,
                                            WINHTTP_NO_PROXY_NAME,
                                            WINHTTP_NO_PROXY_BYPASS,
                                            0);
    TWinHttpSession() = default;
    ~TWinHttpSession() {
        if (handle)
            winhttp::WinHttpCloseHandle(handle);
    }
    TWinHttpSession(const TWinHttpSession&) = delete;
    TWinHttpSession& operator=(const TWinHttpSession&) = delete;
};

// The texts of a proxy answer belong to the caller, who frees them with GlobalFree.
struct TProxyAnswer {
    WINHTTP_PROXY_INFO info = {};
    TProxyAnswer() = default;
    ~TProxyAnswer() {
        if (info.lpszProxy)
            GlobalFree(info.lpszProxy);
        if (info.lpszProxyBypass)
            GlobalFree(info.lpszProxyBypass);
    }
    TProxyAnswer(const TProxyAnswer&) = delete;
    TProxyAnswer& operator=(const TProxyAnswer&) = delete;
};

}  // namespace

TnetScriptProxy ProxyFromScript(const std::wstring& url, const std::wstring& scriptUrl, TnetProxyServer& proxy) {
    TWinHttpSession session;
    if (!session.handle)
        return TnetScriptProxy::spFailed;
    winhttp::WinHttpSetTimeouts(session.handle, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs);
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (scriptUrl.empty()) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = scriptUrl.c_str();
    }
    options.fAutoLogonIfChallenged = TRUE;  // a script behind the site's own sign-in
    TProxyAnswer answer;
    if (!winhttp::WinHttpGetProxyForUrl(session.handle, url.c_str(), &options, &answer.info))
        return TnetScriptProxy::spFailed;
    if (answer.info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || !answer.info.lpszProxy)
        return TnetScriptProxy::spDirect;
    // "host:port" or several of them separated by ";": the first one serves.
    return SelectProxyServer(answer.info.lpszProxy, L"http", proxy) ? TnetScriptProxy::spProxy
                                                                    : TnetScriptProxy::spDirect;
}

}  // namespace memoline
