// A proxy configuration script (PAC) or auto-detection, evaluated by the system's own HTTP service.
// Apart from the rest of the proxy code because its header must not meet WinINet's.
#pragma once

#include <string>

#include "http/ProxyList.h"

namespace memoline {

enum class TnetScriptProxy {
    spProxy,   // the script names a proxy, in `proxy`
    spDirect,  // the script says DIRECT
    spFailed,  // no script could be found, fetched or run
};

// Runs the script at `scriptUrl` (empty: auto-detect it through DHCP and DNS) for `url`, on a worker
// thread while this one handles its messages. A script not had within half a minute counts as failed;
// a quit request meanwhile throws EnetSocketError (kNetConnectionLost) and leaves the evaluation to
// end on its worker.
TnetScriptProxy ProxyFromScript(const std::wstring& url, const std::wstring& scriptUrl, TnetProxyServer& proxy);

}  // namespace memoline
