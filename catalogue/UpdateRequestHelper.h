// The update catalogue request: one form post to the vendor's catalogue, its answer as lines, and
// progress and failure lines for the log sink (catalogue/RequestLog.h).
#pragma once

#include <string>
#include <vector>

#include "http/NetHttp.h"

namespace memoline {

using TCatalogueLines = std::vector<std::wstring>;

// The longest one catalogue request may take, redirects and sign-ins included, however slowly the
// server sends: then it fails with "Timeout error occured".
inline constexpr int kCatalogueRequestTimeOutMs = 120000;

// The catalogue's answer. On failure the lines hold "ERROR: " and the failure's message (split at its
// line breaks), and Succeeded tells the caller so without looking at the text.
struct TServerUpdates {
    TCatalogueLines Lines;
    bool Succeeded = false;
    std::wstring FailureMessage;  // the failure's message; empty on success
};

// Where the catalogue is asked: the build-time address. An embedding program or a test may point it
// elsewhere before a request.
extern std::wstring CatalogueAddress;

// Posts the access password to CatalogueAddress. Never throws for a failed request: the failure is
// in the result, and logged ("ERROR E6582: ...", then "ERROR E6583: ...").
// The request goes through the current user's system proxy where one is set for the address;
// `proxyLogin` is asked for the proxy's credentials when it wants them.
TServerUpdates RequestServerUpdates(const TnetProxyLoginEvent& proxyLogin = {});

// Posts the form fields (name=value lines; for each name the first line's value counts) to the
// address. AResponse is emptied at once and then holds the response lines, or on failure the "ERROR: "
// text; AFailureMessage (optional) gets the failure's message. Logs "POST <address> START", then
// "POST <address> OK (resp <n> bytes)" or "ERROR E6582: POST <address> FAILED: <message>". Returns
// whether the post succeeded; an error a log receiver throws while the post is logged makes it fail.
bool PostForm(const std::wstring& AAddress,
              const std::vector<std::wstring>& AFields,
              TCatalogueLines& AResponse,
              std::wstring* AFailureMessage = nullptr,
              const TnetProxyLoginEvent& AProxyLogin = {});

}  // namespace memoline
