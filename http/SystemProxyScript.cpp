#include "http/SystemProxyScript.h"

#include <windows.h>

#include <winhttp.h>

#include <memory>

#include "core/LazyLibrary.h"
#include "core/WorkerCall.h"
#include "http/NetErrors.h"

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
// WinHTTP's limits count per phase (name, connect, send, each read); the wait for all of them together
// ends here, and a script not had by then is taken as none.
constexpr ULONGLONG kScriptWaitMs = 30000;

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

// What one evaluation uses and gives, owned by its worker: a given-up evaluation goes on there.
struct TScriptCall {
    std::wstring url;
    std::wstring scriptUrl;
    TnetProxyServer proxy;
    TnetScriptProxy result = TnetScriptProxy::spFailed;
};

TnetScriptProxy RunScript(const std::wstring& url, const std::wstring& scriptUrl, TnetProxyServer& proxy) {
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

}  // namespace

TnetScriptProxy ProxyFromScript(const std::wstring& url, const std::wstring& scriptUrl, TnetProxyServer& proxy) {
    auto call = std::make_shared<TScriptCall>();
    call->url = url;
    call->scriptUrl = scriptUrl;
    const ULONGLONG start = GetTickCount64();
    bool timedOut = false;
    core::TWorkerWait wait;
    wait.abandon = [&] { return timedOut = GetTickCount64() - start >= kScriptWaitMs; };
    // Auto-detection asks DHCP and DNS, and the script comes over the network: not on this thread.
    const core::TWorkerCallEnd end =
        core::RunOnWorker([call] { call->result = RunScript(call->url, call->scriptUrl, call->proxy); }, wait);
    if (end == core::TWorkerCallEnd::Abandoned) {
        if (timedOut)
            return TnetScriptProxy::spFailed;
        RaiseRequestGivenUp();  // a quit request: the request goes with it
    }
    if (call->result == TnetScriptProxy::spProxy)
        proxy = call->proxy;
    return call->result;
}

}  // namespace memoline
