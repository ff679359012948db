// The proxy's user name and password for this run of the updater: asked in the download engine's
// login form when a proxy first wants them, kept in memory only, and shared by the check and the
// download, so the operator is asked once per run (and again only when the proxy refuses them).
#pragma once

#include <string>

namespace memoline {

class TProxySignIn {
public:
    virtual ~TProxySignIn() = default;

    // The credentials for `proxy`: those kept from an earlier answer, or, when there are none or
    // `again` says the proxy refused them, those the operator enters now. False when the operator
    // cancels (what was kept stays kept).
    bool Credentials(const std::wstring& proxy, bool again, std::wstring& userName, std::wstring& password);

protected:
    // Shows the login form captioned "Connect to " + proxy; false on Cancel.
    virtual bool Ask(const std::wstring& proxy, std::wstring& userName, std::wstring& password);

private:
    bool FKnown = false;
    std::wstring FUserName;
    std::wstring FPassword;
};

}  // namespace memoline
