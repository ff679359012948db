#include "catalogue/UpdateRequestHelper.h"

#include <exception>

#include "catalogue/CatalogueConfig.h"
#include "catalogue/RequestLog.h"
#include "core/TextUtil.h"
#include "http/NetErrors.h"
#include "http/NetHttp.h"
#include "http/ResponseLines.h"
#include "http/SystemProxy.h"

namespace memoline {
namespace {

std::wstring NameOf(const std::wstring& line) {
    return line.substr(0, line.find(L'='));
}

// The value of the first line with that name, as a name=value list gives it.
std::wstring ValueOf(const std::vector<std::wstring>& lines, const std::wstring& name) {
    for (const auto& line : lines) {
        const size_t eq = line.find(L'=');
        if (eq != std::wstring::npos && SameTextAscii(line.substr(0, eq), name))
            return line.substr(eq + 1);
    }
    return {};
}

// The length of the response text: every line followed by CR LF.
size_t TextLength(const TCatalogueLines& lines) {
    size_t length = 0;
    for (const auto& line : lines)
        length += line.size() + 2;
    return length;
}

std::wstring Widen(const char* text) {
    std::wstring out;
    for (const char* p = text; *p; ++p)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return out;
}

void LogFailureQuietly(const std::wstring& text) {
    // The failure is already in the result; a receiver that fails on it changes nothing.
    try {
        LogFailure(text);
    } catch (...) {
    }
}

// Sites that reach the internet only through a proxy set it for the user: the catalogue request takes
// the same road as the download, which WinINet sends through that proxy.
void UseSystemProxy(TnetHttp& http, const std::wstring& address, const TnetProxyLoginEvent& proxyLogin) {
    TnetProxyServer proxy;
    if (!SystemProxyFor(address, proxy))
        return;
    http.ProxySettings.Server = proxy.Host;
    http.ProxySettings.Port = proxy.Port;
    http.OnProxyLogin = proxyLogin;
}

}  // namespace

std::wstring CatalogueAddress = kCatalogueUrl;

bool PostForm(const std::wstring& AAddress,
              const std::vector<std::wstring>& AFields,
              TCatalogueLines& AResponse,
              std::wstring* AFailureMessage,
              const TnetProxyLoginEvent& AProxyLogin) {
    AResponse.clear();
    std::wstring message;
    try {
        TnetHttp http;
        http.RequestTimeOut = kCatalogueRequestTimeOutMs;
        UseSystemProxy(http, AAddress, AProxyLogin);
        // A server accepted without its revocation check goes on; support should see that it did.
        http.OnSecurityNotice = [](const std::wstring& text) { LogProgress(text); };
        TnetHttpRequest request;
        for (const auto& line : AFields) {
            const std::wstring name = NameOf(line);
            request.AddFormField(name, ValueOf(AFields, name));
        }
        LogProgress(L"POST " + AAddress + L" START");
        http.Post(AAddress, &request, AResponse);
        LogProgress(L"POST " + AAddress + L" OK (resp " + std::to_wstring(TextLength(AResponse)) + L" bytes)");
        return true;
    } catch (const EnetBodyError& e) {
        message = e.ErrorCode() == kNetAnswerTooLarge ? L"The answer of the update server is too large." : e.Message();
    } catch (const EnetError& e) {
        message = e.Message();
    } catch (const std::exception& e) {
        message = Widen(e.what());
    }
    AResponse = SplitResponseText(L"ERROR: " + message);
    if (AFailureMessage)
        *AFailureMessage = message;
    LogFailureQuietly(L"ERROR E6582: POST " + AAddress + L" FAILED: " + message);
    return false;
}

TServerUpdates RequestServerUpdates(const TnetProxyLoginEvent& proxyLogin) {
    const std::vector<std::wstring> fields = {std::wstring(L"system_password=") + kCataloguePassword};
    TServerUpdates result;
    result.Succeeded = PostForm(CatalogueAddress, fields, result.Lines, &result.FailureMessage, proxyLogin);
    if (!result.Succeeded)
        LogFailureQuietly(L"ERROR E6583: The update catalogue request failed");
    return result;
}

}  // namespace memoline
