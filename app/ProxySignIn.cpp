#include "app/ProxySignIn.h"

#include "download/DownloadLoginForm.h"

namespace memoline {

bool TProxySignIn::Credentials(const std::wstring& proxy, bool again, std::wstring& userName, std::wstring& password) {
    if (!FKnown || again) {
        std::wstring user;
        std::wstring secret;
        if (!Ask(proxy, user, secret))
            return false;
        FUserName = user;
        FPassword = secret;
        FKnown = true;
    }
    userName = FUserName;
    password = FPassword;
    return true;
}

bool TProxySignIn::Ask(const std::wstring& proxy, std::wstring& userName, std::wstring& password) {
    TDownloadLoginForm form(L"Connect to " + proxy);
    if (form.ShowModal() != IDOK)
        return false;
    userName = form.UserName();
    password = form.Password();
    return true;
}

}  // namespace memoline
