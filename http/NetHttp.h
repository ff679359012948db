// The HTTP/1.1 form-post client: parses the URL, assembles the request header, runs the exchange
// over the TCP transport (with TLS for "https"), follows redirects, answers authentication
// challenges, keeps cookies for its own life, decodes the body and hands it back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http/Cookies.h"
#include "http/HttpHeader.h"
#include "http/HttpRequest.h"
#include "http/NetHttpAuth.h"
#include "http/NetTcpClientTls.h"
#include "http/RequestAssembly.h"
#include "http/Stream.h"
#include "http/UrlParser.h"

namespace memoline {

enum class TnetAuthorizationType {
    atBasic,       // a Basic "Authorization" line goes out with every request
    atAutoDetect,  // credentials only in answer to a 401 or 407 challenge
};

struct TnetHttpProxySettings {
    std::wstring Server;  // empty: no proxy
    int Port = 8080;
    TnetAuthorizationType AuthorizationType = TnetAuthorizationType::atAutoDetect;
    std::wstring UserName;
    std::wstring Password;
};

class TnetHttpAuthenticator;

// Asked for the proxy's user name and password when the proxy answers 407: `proxy` names it, `again`
// tells that the last answer was refused. False leaves the request to fail with the proxy's status.
using TnetProxyLoginEvent = std::function<
    bool(TObject* Sender, const std::wstring& proxy, bool again, std::wstring& userName, std::wstring& password)>;

// How many 407 answers of one request are answered with credentials: the first, then two more
// after the operator was asked again.
inline constexpr int kProxySignInAttempts = 3;

// The client's own failure codes, beside the transport's.
inline constexpr int kNetInvalidUrl = -7;     // the URL cannot be split
inline constexpr int kNetHeaderTooLong = -8;  // no end of the response header within the limit
// A redirect that would send the request body again to another scheme, host or port.
inline constexpr int kNetRedirectElsewhere = -14;

class TnetHttp : public TnetTcpClientTls {
public:
    explicit TnetHttp(TComponent* AOwner = nullptr);
    ~TnetHttp() override;

    TnetHttpVersion HttpVersion = TnetHttpVersion::hvHttp1_1;
    std::wstring UserAgent = L"Mozilla/4.0 (compatible; Memoline Server Updates)";
    bool KeepConnection = true;
    bool AllowCaching = true;
    bool AllowRedirects = true;
    int MaxRedirects = 15;
    bool AllowCookies = true;
    bool AllowCompression = true;
    TnetAuthorizationType AuthorizationType = TnetAuthorizationType::atAutoDetect;
    int MaxAuthRetries = 5;
    bool SilentHTTP = false;
    bool Expect100Continue = false;
    std::wstring UserName;
    std::wstring Password;
    std::wstring Authorization;
    std::wstring CharSet;
    // The largest decoded body taken as the answer; past it the request fails with EnetBodyError
    // (kNetAnswerTooLarge). The bodies of redirects, challenges and errors are held to 1 MiB at most.
    int64_t MaxResponseSize = int64_t{16} << 20;
    TnetHttpProxySettings ProxySettings;
    TnetProxyLoginEvent OnProxyLogin;
    // Where Negotiate and NTLM conversations come from; empty: the system's security packages.
    TnetAuthConversationFactory AuthConversations;

    // Posts the request's form and replaces the lines by the decoded response body (an empty body
    // leaves them untouched). Throws EnetHttpError (status line, status, body text) for an error
    // status, a redirect that cannot or may not be followed and a challenge without answer;
    // EnetTcpClientError (kNetRedirectElsewhere) for a redirect that keeps the POST but leads to
    // another scheme, host or port;
    // EnetSocketError, EnetSSPIError, EnetZLibError or EnetIdnError for the layers below. The lines
    // are untouched on failure.
    void Post(const std::wstring& AUrl, TnetHttpRequest* ARequest, TnetStringList& AResponseBody);
    // The same into a byte stream, which gets the body as received (de-chunked, gzip decoded).
    void Post(const std::wstring& AUrl, TnetHttpRequest* ARequest, TnetStream& AResponseBody);
    // One request with its redirects and authentication passes. Missing arguments are replaced by
    // empty ones.
    void SendRequest(const std::wstring& AMethod,
                     const std::wstring& AUrl,
                     const TnetStringList* ARequestHeader,
                     TnetStream* ARequestBody,
                     TnetStringList* AResponseHeader,
                     TnetStream* AResponseBody);

    int StatusCode() const { return FStatusCode; }
    const std::wstring& StatusText() const { return FStatusText; }
    TnetHttpVersion ResponseVersion() const { return FResponseVersion; }
    const TnetHttpResponseHeader& ResponseHeader() const { return FResponseHeader; }
    const TnetCookieList& ResponseCookies() const { return FResponseCookies; }
    const TnetUrlParser& Url() const { return FUrl; }
    const std::wstring& Method() const { return FMethod; }
    // The jar of every cookie this client has received; created on first use.
    TnetCookieManager& CookieManager();

protected:
    int DefaultPort() const override { return 80; }

private:
    struct Exchange;

    void RunExchange(Exchange& x);
    // A Basic line from the credentials, or the fixed Authorization value, when set.
    void PutFixedAuthorization(Exchange& x);
    // One pass: request, response header, and what its status asks for. True when the exchange has
    // ended (successfully, or with the body written under SilentHTTP); an HTTP error is raised.
    bool RunPass(Exchange& x);
    // Sends the request and reads the response header, once more on a new connection when a
    // kept-alive one turns out to be dropped.
    void SendAndReadHeader(Exchange& x);
    bool HandleRedirect(Exchange& x);
    bool HandleChallenge(Exchange& x, bool proxy);
    bool TakeFinalResponse(Exchange& x);
    void ConnectForUrl();
    void SendHeaderAndBody(Exchange& x);
    void ReadResponseHeader(Exchange& x);
    void CollectCookies();
    // 0 for an answer without body, the Content-Length, or kOpenEnded (chunks, or until the close).
    // Throws EnetBodyError for an invalid Content-Length.
    int64_t BodyLength(bool chunked) const;
    // Reads the body that follows the header into `destination`, decoding chunks and gzip, and fails
    // with EnetBodyError when it does not arrive whole or its decoded size would pass `limit`.
    void ReadBody(Exchange& x, TnetStream& destination, int64_t limit);
    void ReadChunkedBody(std::string_view already, TnetStream& wire);
    void ReadBodyUntilClose(std::string_view already, TnetStream& wire);
    void ReadBodyOfLength(std::string_view already, TnetStream& wire, int64_t length);
    std::wstring ReadBodyText(Exchange& x);
    std::wstring DecodeText(const std::string& bytes) const;
    bool FollowRedirect(Exchange& x);
    bool AnswerChallenge(Exchange& x, bool proxy, bool& needFreshConnection);
    // Through a proxy (NetHttpProxy.cpp).
    bool UsesProxy() const { return !ProxySettings.Server.empty(); }
    void ConnectThroughProxy();
    void OpenTunnel(const std::wstring& authority);
    // Reads a proxy's answer to CONNECT: the header, and the body's text unless the answer is 2xx.
    std::wstring ReadConnectAnswer();
    bool ProxyCredentialsFor(int attempt);
    [[noreturn]] void RaiseHttpError(const std::wstring& text) const;
    void FailWithHttpError(Exchange& x, const std::wstring& text);

    std::wstring FMethod;
    TnetUrlParser FUrl;
    int FStatusCode = 0;
    std::wstring FStatusText;
    TnetHttpVersion FResponseVersion = TnetHttpVersion::hvHttp1_1;
    TnetHttpResponseHeader FResponseHeader;
    TnetStringList FResponseHeaderLines;
    TnetCookieList FResponseCookies;
    std::unique_ptr<TnetCookieManager> FOwnCookieManager;
    std::unique_ptr<TnetHttpRequest> FOwnRequest;
    std::unique_ptr<TnetHttpAuthenticator> FAuthenticator;
    std::unique_ptr<TnetHttpAuthenticator> FProxyAuthenticator;
    std::wstring FTunnelTarget;  // "host:port" the open connection tunnels to; empty: no tunnel
};

}  // namespace memoline
