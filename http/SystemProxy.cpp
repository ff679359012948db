#include "http/SystemProxy.h"

#include <windows.h>

#include <wininet.h>

#include "core/WinInet.h"

#include "http/SystemProxyScript.h"
#include "http/UrlParser.h"

namespace memoline {
namespace {

// The per-connection options of the LAN settings, freed as the API asks (GlobalFree of each text).
struct TPerConnectionOptions {
    INTERNET_PER_CONN_OPTIONW options[4] = {};
    INTERNET_PER_CONN_OPTION_LISTW list = {};
    bool ok = false;

    TPerConnectionOptions() {
        options[0].dwOption = INTERNET_PER_CONN_FLAGS;
        options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
        options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
        options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
        list.dwSize = sizeof list;
        list.pszConnection = nullptr;  // the LAN connection
        list.dwOptionCount = 4;
        list.pOptions = options;
        DWORD size = sizeof list;
        ok = core::wininet::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size) != FALSE;
    }
    ~TPerConnectionOptions() {
        if (!ok)
            return;
        for (int i = 1; i < 4; ++i) {
            if (options[i].Value.pszValue)
                GlobalFree(options[i].Value.pszValue);
        }
    }
    TPerConnectionOptions(const TPerConnectionOptions&) = delete;
    TPerConnectionOptions& operator=(const TPerConnectionOptions&) = delete;

    DWORD Flags() const { return ok ? options[0].Value.dwValue : PROXY_TYPE_DIRECT; }
    std::wstring Text(int i) const {
        return ok && options[i].Value.pszValue ? std::wstring(options[i].Value.pszValue) : std::wstring();
    }
};

}  // namespace

bool SystemProxyFor(const std::wstring& url, TnetProxyServer& proxy) {
    TnetUrlParser parsed;
    try {
        if (!parsed.Parse(url, L""))
            return false;
    } catch (...) {
        return false;  // the request itself reports a URL it cannot use
    }
    const wchar_t* scheme = parsed.UrlType() == TnetUrlType::utHTTPS ? L"https" : L"http";
    TPerConnectionOptions settings;
    // A configuration script, or auto-detection, decides first; when it cannot be had, the fixed
    // proxy serves as the system's own HTTP stack falls back to it.
    const DWORD flags = settings.Flags();
    const std::wstring script = settings.Text(3);
    if ((flags & PROXY_TYPE_AUTO_PROXY_URL && !script.empty()) || flags & PROXY_TYPE_AUTO_DETECT) {
        const std::wstring scriptUrl = flags & PROXY_TYPE_AUTO_PROXY_URL ? script : std::wstring();
        switch (ProxyFromScript(url, scriptUrl, proxy)) {
            case TnetScriptProxy::spProxy:
                return true;
            case TnetScriptProxy::spDirect:
                return false;
            case TnetScriptProxy::spFailed:
                break;
        }
    }
    if (!(flags & PROXY_TYPE_PROXY))
        return false;
    if (BypassesProxy(settings.Text(2), parsed.Host()))
        return false;
    return SelectProxyServer(settings.Text(1), scheme, proxy);
}

}  // namespace memoline
