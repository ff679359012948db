// The current user's proxy configuration, read the way the system's own HTTP stack reads it.
#pragma once

#include <string>

#include "http/ProxyList.h"

namespace memoline {

// The proxy the system's settings give for `url` ("http" or "https"), or false when the request goes
// direct (no proxy set, the host on the bypass list, or a URL that cannot be split). A configuration
// script or auto-detection, where set, is evaluated by the system (SystemProxyScript.h); when it
// cannot be had, the fixed proxy with its bypass list serves. Throws what ProxyFromScript throws.
bool SystemProxyFor(const std::wstring& url, TnetProxyServer& proxy);

}  // namespace memoline
