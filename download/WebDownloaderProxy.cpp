// The download engine's answer to a proxy that asks for sign-in (407). The credentials go on the
// request handle and the same request is sent again, so WinINet answers the proxy's challenge with
// the scheme it offers; the operator is asked again at most twice.
#include "download/WebDownloader.h"

#include <wininet.h>

#include <memory>

#include "core/WinInet.h"

namespace memoline {
namespace {

// How many 407 answers of one request are answered: the first, then two more after asking again.
constexpr int kProxySignInAttempts = 3;

// A request that is sent again must first have read the answer it got.
void DrainAnswer(HINTERNET request) {
    char buffer[4096];
    DWORD n = 0;
    while (core::wininet::InternetReadFile(request, buffer, sizeof buffer, &n) && n > 0) {
    }
}

DWORD StatusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    DWORD index = 0;
    core::wininet::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index);
    return status;
}

bool SetTextOption(HINTERNET request, DWORD option, const std::wstring& value) {
    return core::wininet::InternetSetOptionW(request, option, const_cast<wchar_t*>(value.c_str()),
                                             static_cast<DWORD>(value.size() + 1)) != FALSE;
}

}  // namespace

std::wstring TWebDownloader::ProxyName() const {
    if (!Proxy.empty())
        return Proxy;
    // The proxy WinINet uses under the system's settings.
    DWORD size = 0;
    core::wininet::InternetQueryOptionW(FHinternet, INTERNET_OPTION_PROXY, nullptr, &size);
    if (size == 0)
        return L"proxy";
    std::vector<BYTE> buffer(size);
    if (!core::wininet::InternetQueryOptionW(FHinternet, INTERNET_OPTION_PROXY, buffer.data(), &size))
        return L"proxy";
    const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
    if (!info->lpszProxy)
        return L"proxy";
    // The option gives the proxy text as the API's default character set: wide under the W call.
    std::wstring name(reinterpret_cast<const wchar_t*>(info->lpszProxy));
    size_t end = name.find_first_of(L" ;");
    return end == std::wstring::npos ? name : name.substr(0, end);
}

void TWebDownloader::AnswerProxySignIn(const shared_hinternet& request, DWORD& status) {
    std::wstring user = ProxyUserID;
    std::wstring password = ProxyPassword;
    for (int attempt = 1; status == 407 && attempt <= kProxySignInAttempts; ++attempt) {
        const bool known = attempt == 1 && (!user.empty() || !password.empty());
        if (!known && (!OnProxyLogin || !OnProxyLogin(this, ProxyName(), attempt > 1, user, password)))
            return;
        // Reading the refusal and sending again wait on the proxy: on the worker, which holds the
        // request and its own copies of the credentials.
        struct TSignInCall {
            shared_hinternet request;
            std::wstring user;
            std::wstring password;
            bool sent = false;
            DWORD status = 0;
        };
        auto call = std::make_shared<TSignInCall>();
        call->request = request;
        call->user = user;
        call->password = password;
        const TCallEnd end = RunCall([call] {
            HINTERNET handle = call->request.get();
            DrainAnswer(handle);
            call->sent = SetTextOption(handle, INTERNET_OPTION_PROXY_USERNAME, call->user) &&
                         SetTextOption(handle, INTERNET_OPTION_PROXY_PASSWORD, call->password) &&
                         core::wininet::HttpSendRequestW(handle, nullptr, 0, nullptr, 0);
            if (call->sent)
                call->status = StatusOf(handle);
        });
        if (end != TCallEnd::Done || !call->sent)
            return;
        ProcessMessages();
        status = call->status;
    }
}

}  // namespace memoline
