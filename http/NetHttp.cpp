#include "http/NetHttp.h"

#include <algorithm>
#include <ctime>
#include "core/TextUtil.h"

#include "http/Charset.h"
#include "http/ChunkedStream.h"
#include "http/GZipInflateStream.h"
#include "http/NetErrors.h"
#include "http/NetHttpAuth.h"
#include "http/ResponseHeaderScanner.h"
#include "http/ResponseLines.h"
#include "http/UrlZone.h"

namespace memoline {
namespace {

// While the header is incomplete each read takes at most this much, so the header is found early.
constexpr int64_t kHeaderReadSize = 8192;
// A header (with any 100-continue blocks) that has not ended within this many bytes is refused.
constexpr size_t kMaxHeaderBytes = 65536;
// A header of more lines than this is refused: no real answer has them, and each costs a field to parse.
constexpr size_t kMaxHeaderLines = 256;
// The body of an answer that is not the one asked for (a redirect, a challenge, an error) is only
// read to keep the connection in step, and shown at most as an error's text.
constexpr int64_t kMaxSideBodySize = 1 << 20;
// Socket codes of a kept-alive connection that the server has dropped.
constexpr int kConnectionAborted = 10053;  // WSAECONNABORTED
constexpr int kConnectionReset = 10054;    // WSAECONNRESET
constexpr int kNotSocket = 10038;          // WSAENOTSOCK: read after the peer closed

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// The text cut after its last "/", for the "same place" test of a redirect.
std::wstring CutAfterLastSlash(const std::wstring& url) {
    const size_t slash = url.rfind(L'/');
    return slash == std::wstring::npos ? url : url.substr(0, slash + 1);
}

// Scheme, host and port: what a browser calls the origin of a URL.
bool SameOrigin(const TnetUrlParser& a, const TnetUrlParser& b) {
    return a.UrlType() == b.UrlType() && LowerAscii(a.Host()) == LowerAscii(b.Host()) && a.Port() == b.Port();
}

[[noreturn]] void ThrowTooLarge() {
    throw EnetBodyError(L"The response is larger than the limit", kNetAnswerTooLarge);
}

// Bytes on their way to a body stream (a decoder or the destination), counted, and refused once they
// would pass `limit`: an endless or inflating answer ends there, with what it cost so far.
class TransportSink : public TnetStream {
public:
    TransportSink(TnetStream& target, int64_t limit) : target_(target), limit_(limit) {}
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void* data, size_t count) override {
        if (static_cast<int64_t>(count) > limit_ - count_)
            ThrowTooLarge();
        target_.Write(data, count);
        count_ += static_cast<int64_t>(count);
        return count;
    }
    int64_t Seek(int64_t, TnetSeekOrigin) override { return count_; }
    int64_t Count() const { return count_; }

private:
    TnetStream& target_;
    int64_t limit_;
    int64_t count_ = 0;
};

// Bytes arriving from the transport, appended to a buffer (the response header phase).
class BufferSink : public TnetStream {
public:
    explicit BufferSink(std::string& buffer) : buffer_(buffer) {}
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void* data, size_t count) override {
        buffer_.append(static_cast<const char*>(data), count);
        return count;
    }
    int64_t Seek(int64_t, TnetSeekOrigin) override { return static_cast<int64_t>(buffer_.size()); }

private:
    std::string& buffer_;
};

int64_t BytesLeft(TnetStream& stream) {
    const int64_t position = stream.Seek(0, TnetSeekOrigin::Current);
    const int64_t end = stream.Seek(0, TnetSeekOrigin::End);
    stream.Seek(position, TnetSeekOrigin::Begin);
    return end - position;
}

std::string ReadRest(TnetStream& stream) {
    std::string bytes;
    char buffer[8192];
    while (true) {
        const size_t n = stream.Read(buffer, sizeof buffer);
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

}  // namespace

// What one call of SendRequest carries from pass to pass.
struct TnetHttp::Exchange {
    TnetStringList requestLines;
    TnetStream* body = nullptr;
    int64_t bodyStart = 0;
    TnetStringStream emptyBody;
    TnetStream* response = nullptr;
    TnetStringList* responseHeader = nullptr;
    std::string received;   // the bytes read with the header
    size_t bodyOffset = 0;  // where the body starts in `received`
    bool closeAfter = false;
    bool succeeded = false;
    int redirects = 0;
    int authAttempts = 0;
    int proxyAuthAttempts = 0;
    std::wstring firstHost;  // the host the request was meant for, before any redirect
};

TnetHttp::TnetHttp(TComponent* AOwner) : TnetTcpClientTls(AOwner) {
    Port = 80;
    TLSFlags = kHttpDefaultTlsFlags;
}

TnetHttp::~TnetHttp() {
    Close();
}

TnetCookieManager& TnetHttp::CookieManager() {
    if (!FOwnCookieManager)
        FOwnCookieManager = std::make_unique<TnetCookieManager>();
    return *FOwnCookieManager;
}

void TnetHttp::Post(const std::wstring& AUrl, TnetHttpRequest* ARequest, TnetStringList& AResponseBody) {
    TnetStringStream stream;
    Post(AUrl, ARequest, stream);
    const std::string& bytes = stream.DataString();
    if (bytes.empty())
        return;
    AResponseBody = SplitResponseText(DecodeText(bytes));
}

void TnetHttp::Post(const std::wstring& AUrl, TnetHttpRequest* ARequest, TnetStream& AResponseBody) {
    if (!ARequest) {
        if (!FOwnRequest)
            FOwnRequest = std::make_unique<TnetHttpRequest>();
        ARequest = FOwnRequest.get();
    }
    std::unique_ptr<TnetStream> body = ARequest->RequestStream();
    SendRequest(L"POST", AUrl, &ARequest->HeaderSource(), body.get(), nullptr, &AResponseBody);
}

void TnetHttp::SendRequest(const std::wstring& AMethod,
                           const std::wstring& AUrl,
                           const TnetStringList* ARequestHeader,
                           TnetStream* ARequestBody,
                           TnetStringList* AResponseHeader,
                           TnetStream* AResponseBody) {
    Exchange x;
    TnetStringStream emptyResponse;
    if (ARequestHeader)
        x.requestLines = *ARequestHeader;
    x.body = ARequestBody ? ARequestBody : &x.emptyBody;
    x.response = AResponseBody ? AResponseBody : &emptyResponse;
    x.responseHeader = AResponseHeader;
    if (!FUrl.Parse(AUrl, CharSet))
        throw EnetTcpClientError(L"Invalid URL: " + AUrl, kNetInvalidUrl);
    FMethod = AMethod;
    x.firstHost = FUrl.Host();
    StartRequestClock();
    RunExchange(x);
}

void TnetHttp::RunExchange(Exchange& x) {
    PutFixedAuthorization(x);
    x.bodyStart = x.body->Seek(0, TnetSeekOrigin::Current);
    try {
        while (!RunPass(x)) {
            if (x.closeAfter) {
                Close();
                x.closeAfter = false;
            }
        }
    } catch (const EnetHttpError&) {
        if (x.closeAfter)
            Close();
        throw;
    } catch (...) {
        // After a transport, TLS or decoding failure the connection's state is unknown: it is not
        // reused for a later request.
        Close();
        throw;
    }
    if (x.closeAfter)
        Close();
}

void TnetHttp::PutFixedAuthorization(Exchange& x) {
    if (AuthorizationType == TnetAuthorizationType::atBasic) {
        const std::wstring user = !UserName.empty() ? UserName : FUrl.UserName();
        const std::wstring password = !UserName.empty() ? Password : FUrl.Password();
        RemoveHeaderField(x.requestLines, L"Authorization");
        x.requestLines.push_back(L"Authorization: " + BasicAuthorization(user, password));
    } else if (!Authorization.empty()) {
        RemoveHeaderField(x.requestLines, L"Authorization");
        x.requestLines.push_back(L"Authorization: " + Authorization);
    }
}

bool TnetHttp::RunPass(Exchange& x) {
    SendAndReadHeader(x);
    const std::wstring connection = UsesProxy() && FUrl.UrlType() != TnetUrlType::utHTTPS
                                        ? FResponseHeader.ProxyConnection()
                                        : FResponseHeader.Connection();
    if (!MayKeepConnection(KeepConnection, HttpVersion, FResponseVersion, connection))
        x.closeAfter = true;
    if (FStatusCode >= 300 && FStatusCode < 400 && FStatusCode != 304 && FStatusCode != 305)
        return HandleRedirect(x);
    if (FStatusCode == 401 || FStatusCode == 407)
        return HandleChallenge(x, FStatusCode == 407);
    return TakeFinalResponse(x);
}

void TnetHttp::SendAndReadHeader(Exchange& x) {
    while (true) {
        const bool wasOpen = Active();
        try {
            x.body->Seek(x.bodyStart, TnetSeekOrigin::Begin);
            ConnectForUrl();
            SendHeaderAndBody(x);
            ReadResponseHeader(x);
            return;
        } catch (const EnetHttpError&) {
            throw;
        } catch (const EnetSocketError& e) {
            // A kept-alive connection the server has dropped meanwhile: once more on a new one.
            if (wasOpen && (e.ErrorCode() == kConnectionAborted || e.ErrorCode() == kConnectionReset ||
                            e.ErrorCode() == kNotSocket)) {
                Close();
                continue;
            }
            throw;
        }
    }
}

bool TnetHttp::HandleRedirect(Exchange& x) {
    ++x.redirects;
    const std::wstring text = ReadBodyText(x);
    if ((MaxRedirects > 0 && x.redirects > MaxRedirects) || !AllowRedirects || !FollowRedirect(x)) {
        FailWithHttpError(x, text);
        return true;
    }
    return false;
}

bool TnetHttp::HandleChallenge(Exchange& x, bool proxy) {
    const int attempts = proxy ? ++x.proxyAuthAttempts : ++x.authAttempts;
    const std::wstring text = ReadBodyText(x);
    bool needFresh = false;
    if ((proxy && !ProxyCredentialsFor(attempts)) || !Authorization.empty() ||
        (MaxAuthRetries > 0 && attempts > MaxAuthRetries) || !AnswerChallenge(x, proxy, needFresh)) {
        FailWithHttpError(x, text);
        return true;
    }
    if (attempts == 1 && needFresh)
        x.closeAfter = true;
    return false;
}

bool TnetHttp::TakeFinalResponse(Exchange& x) {
    if (FStatusCode >= 400) {
        FailWithHttpError(x, ReadBodyText(x));
        return true;
    }
    if (!SameTextAscii(FMethod, L"HEAD"))
        ReadBody(x, *x.response, MaxResponseSize);
    return true;
}

void TnetHttp::ConnectForUrl() {
    if (UsesProxy()) {
        ConnectThroughProxy();
        return;
    }
    if (Active() && !FTunnelTarget.empty())
        Close();
    FTunnelTarget.clear();
    if (FUrl.Host() != L"*") {
        const std::wstring host = FUrl.HostAddress();
        if (Active() && (Server != host || Port != FUrl.Port()))
            Close();
        Server = host;
        Port = FUrl.Port();
    }
    const TnetClientTlsMode mode =
        FUrl.UrlType() == TnetUrlType::utHTTPS ? TnetClientTlsMode::ctImplicit : TnetClientTlsMode::ctNone;
    if (Active() && UseTLS != mode)
        Close();
    UseTLS = mode;
    Open();
}

void TnetHttp::SendHeaderAndBody(Exchange& x) {
    TnetRequestHeaderSettings s;
    s.Method = FMethod;
    // A proxy forwarding plain HTTP needs the absolute target; a tunnel carries the origin form.
    s.Target = UsesProxy() && FUrl.UrlType() != TnetUrlType::utHTTPS ? FUrl.AbsoluteUri() : FUrl.AbsolutePath();
    s.Version = HttpVersion;
    s.Host = FUrl.Host().empty() ? HostFieldValue(Server, Port) : HostFieldValue(FUrl.Host(), FUrl.Port());
    s.UserAgent = UserAgent;
    s.BodyBytesLeft = BytesLeft(*x.body);
    s.AllowCompression = AllowCompression;
    s.AllowCaching = AllowCaching;
    s.KeepConnection = KeepConnection;
    s.UseProxy = UsesProxy() && FUrl.UrlType() != TnetUrlType::utHTTPS;
    s.Expect100Continue = Expect100Continue;
    s.AllowCookies = AllowCookies;
    if (AllowCookies && FOwnCookieManager) {
        s.Cookies = FOwnCookieManager->CookieHeader(FUrl.Host(), FUrl.UrlPath(), FUrl.Port(),
                                                    FUrl.UrlType() == TnetUrlType::utHTTPS, Now());
    }
    std::string bytes = HeaderLinesToBytes(AssembleRequestHeader(x.requestLines, s));
    bytes += ReadRest(*x.body);
    TnetStringStream out(std::move(bytes));
    Connection().WriteData(&out);
}

void TnetHttp::ReadResponseHeader(Exchange& x) {
    FStatusCode = 0;
    FStatusText.clear();
    FResponseVersion = HttpVersion;
    x.received.clear();
    BufferSink sink(x.received);
    TnetResponseHeaderScanner scanner;
    while (true) {
        Connection().InitProgress(0, kHeaderReadSize);
        Connection().ReadData(&sink);
        if (scanner.Scan(x.received) == TnetResponseHeaderScanner::Result::Complete)
            break;
        if (x.received.size() > kMaxHeaderBytes)
            throw EnetTcpClientError(L"The response header is too long", kNetHeaderTooLong);
    }
    Connection().InitProgress(0, -1);
    const TnetStatusLine& status = scanner.Status();
    FStatusCode = status.StatusCode;
    FStatusText.assign(status.StatusText.begin(), status.StatusText.end());
    if (status.Version == "HTTP/1.0")
        FResponseVersion = TnetHttpVersion::hvHttp1_0;
    else if (status.Version == "HTTP/1.1")
        FResponseVersion = TnetHttpVersion::hvHttp1_1;
    FResponseHeaderLines = SplitHeaderBlock(
        std::string_view(x.received).substr(scanner.BlockStart(), scanner.HeaderEnd() - scanner.BlockStart()));
    if (FResponseHeaderLines.size() > kMaxHeaderLines + 1)
        throw EnetBodyError(L"The response header has too many fields", kNetTooManyFields);
    x.bodyOffset = scanner.HeaderEnd();
    FResponseHeader.ParseHeader(FResponseHeaderLines);
    if (x.responseHeader)
        *x.responseHeader = FResponseHeaderLines;
    CollectCookies();
}

void TnetHttp::CollectCookies() {
    FResponseCookies = ParseResponseCookies(FResponseHeaderLines, FUrl.Host(), FUrl.UrlPath(), Now());
    if (AllowCookies && !FResponseCookies.empty())
        CookieManager().Merge(FResponseCookies, Now());
}

int64_t TnetHttp::BodyLength(bool chunked) const {
    // Whether this answer has a body at all comes first: a HEAD's or a 304's length is never read.
    if (ExpectedBodyLength(FMethod, FStatusCode, HttpVersion, FResponseVersion, L"") == 0)
        return 0;
    if (chunked)
        return kOpenEnded;  // the chunks end it; any Content-Length beside them does not count
    const int64_t length = ResponseContentLength(FResponseHeaderLines);
    if (length == kInvalidContentLength)
        throw EnetBodyError(L"The Content-Length of the response is invalid", kNetInvalidLength);
    return length == kNoContentLength ? kOpenEnded : length;
}

void TnetHttp::ReadBody(Exchange& x, TnetStream& destination, int64_t limit) {
    const bool chunked = SameTextAscii(FResponseHeader.TransferEncoding(), L"chunked");
    const int64_t length = BodyLength(chunked);
    if (length == 0)
        return;
    // What comes off the wire is bounded too: framing and a compressed body are never much larger
    // than the decoded one, but an endless chunk extension or gzip name would decode to nothing.
    const int64_t wireLimit = limit > INT64_MAX / 2 ? INT64_MAX : 2 * limit + 65536;
    TransportSink decoded(destination, limit);
    std::unique_ptr<TnetGZipInflateStream> gzip;
    TnetStream* target = &decoded;
    if (LowerAscii(FResponseHeader.ContentEncoding()).find(L"gzip") != std::wstring::npos) {
        gzip = std::make_unique<TnetGZipInflateStream>(decoded);
        target = gzip.get();
    } else if (length > limit) {
        ThrowTooLarge();  // announced beyond the limit: not worth reading
    }
    if (length > wireLimit)
        ThrowTooLarge();
    TransportSink wire(*target, wireLimit);
    const std::string_view already = std::string_view(x.received).substr(x.bodyOffset);
    if (chunked)
        ReadChunkedBody(already, wire);
    else if (length == kOpenEnded)
        ReadBodyUntilClose(already, wire);
    else
        ReadBodyOfLength(already, wire, length);
    if (gzip)
        gzip->Finish();
}

void TnetHttp::ReadChunkedBody(std::string_view already, TnetStream& wire) {
    TnetChunkedStream chunked(wire);
    chunked.Write(already.data(), already.size());
    TransportSink sink(chunked, INT64_MAX);
    while (!chunked.IsCompleted())
        Connection().ReadData(&sink);
}

void TnetHttp::ReadBodyUntilClose(std::string_view already, TnetStream& wire) {
    wire.Write(already.data(), already.size());
    if (Active()) {
        Connection().SetReadUntilClose(true);
        try {
            Connection().ReadData(&wire);
        } catch (...) {
            Connection().SetReadUntilClose(false);
            throw;
        }
        Connection().SetReadUntilClose(false);
    }
    // Only the close tells where such a body ends: over TLS an attacker can cut the connection at any
    // byte, so only the session's own close notice counts.
    const TnetNetworkStream* stream = Connection().NetworkStream();
    if (stream && !stream->PeerEndedSession())
        throw EnetBodyError(L"The connection was cut before the end of the response", kNetSessionTruncated);
}

void TnetHttp::ReadBodyOfLength(std::string_view already, TnetStream& wire, int64_t length) {
    // Bytes beyond an announced length are not this body's: they are dropped, not decoded.
    const int64_t take = std::min<int64_t>(length, static_cast<int64_t>(already.size()));
    wire.Write(already.data(), static_cast<size_t>(take));
    TransportSink sink(wire, INT64_MAX);
    int64_t got = static_cast<int64_t>(already.size());
    while (got < length) {
        Connection().InitProgress(0, length - got);
        const int64_t before = sink.Count();
        Connection().ReadData(&sink);
        got += sink.Count() - before;
    }
    Connection().InitProgress(0, -1);
}

std::wstring TnetHttp::ReadBodyText(Exchange& x) {
    TnetStringStream bytes;
    ReadBody(x, bytes, std::min(MaxResponseSize, kMaxSideBodySize));
    return DecodeText(bytes.DataString());
}

std::wstring TnetHttp::DecodeText(const std::string& bytes) const {
    const std::wstring charset = !FResponseHeader.CharSet().empty() ? FResponseHeader.CharSet() : CharSet;
    return CharsetDecode(bytes, charset);
}

bool TnetHttp::FollowRedirect(Exchange& x) {
    const std::wstring location = FResponseHeader.Location();
    if (location.empty())
        return false;
    TnetUrlParser next;
    try {
        if (!next.Parse(ResolveUrlReference(FUrl.AbsoluteUri(), location), CharSet))
            return false;
    } catch (const EnetIdnError&) {
        return false;
    }
    if (next.UrlType() != TnetUrlType::utHTTP && next.UrlType() != TnetUrlType::utHTTPS)
        return false;
    // The form carries a password: what was sent over TLS is never repeated in clear.
    if (FUrl.UrlType() == TnetUrlType::utHTTPS && next.UrlType() != TnetUrlType::utHTTPS)
        return false;
    if (LowerAscii(CutAfterLastSlash(next.AbsoluteUri())).rfind(LowerAscii(CutAfterLastSlash(FUrl.AbsoluteUri())), 0) !=
        0)
        RemoveHeaderField(x.requestLines, L"Authorization");
    const bool becomesGet = FStatusCode == 302 || FStatusCode == 303;
    // A redirect that keeps the method sends the form again, with the password it carries: only to
    // the server it was meant for.
    const bool resendsBody = !becomesGet && !SameTextAscii(FMethod, L"GET") && !SameTextAscii(FMethod, L"HEAD");
    if (resendsBody && !SameOrigin(FUrl, next)) {
        throw EnetTcpClientError(L"The update server redirected the request to another server (" +
                                     HostFieldValue(next.Host(), next.Port()) + L"); it was not sent there.",
                                 kNetRedirectElsewhere);
    }
    if (becomesGet) {
        FMethod = L"GET";
        x.body = &x.emptyBody;
        x.bodyStart = 0;
    }
    FUrl = next;
    return true;
}

bool TnetHttp::AnswerChallenge(Exchange& x, bool proxy, bool& needFreshConnection) {
    auto& authenticator = proxy ? FProxyAuthenticator : FAuthenticator;
    if (!authenticator)
        authenticator = std::make_unique<TnetHttpAuthenticator>(AuthConversations);
    std::wstring user = proxy ? ProxySettings.UserName : UserName;
    std::wstring password = proxy ? ProxySettings.Password : Password;
    if (!proxy && user.empty() && password.empty()) {
        user = FUrl.UserName();
        password = FUrl.Password();
    }
    const TnetStringList& challenges = proxy ? FResponseHeader.ProxyAuthenticate() : FResponseHeader.Authenticate();
    const std::wstring host = proxy && UsesProxy() ? ProxySettings.Server : FUrl.HostAddress();
    // The logged-on user's account goes only where Windows would send it on its own: to the proxy, or
    // to a server of the Local Intranet zone that the request was meant for, not one a redirect led to.
    const bool mayUseLogon =
        proxy || (LowerAscii(FUrl.Host()) == LowerAscii(x.firstHost) && IsLocalIntranetUrl(FUrl.AbsoluteUri()));
    const std::wstring answer =
        authenticator->Answer(challenges, user, password, host, mayUseLogon, needFreshConnection);
    if (answer.empty())
        return false;
    const wchar_t* field = proxy ? L"Proxy-Authorization" : L"Authorization";
    RemoveHeaderField(x.requestLines, field);
    x.requestLines.push_back(std::wstring(field) + L": " + answer);
    return true;
}

std::wstring TnetHttp::ReadConnectAnswer() {
    Exchange x;
    const std::wstring method = FMethod;
    FMethod = L"CONNECT";  // a 2xx answer to CONNECT has no body
    ReadResponseHeader(x);
    const std::wstring text = FStatusCode >= 200 && FStatusCode < 300 ? std::wstring() : ReadBodyText(x);
    FMethod = method;
    return text;
}

void TnetHttp::RaiseHttpError(const std::wstring& text) const {
    const std::wstring statusLine = FResponseHeaderLines.empty() ? std::wstring() : FResponseHeaderLines.front();
    throw EnetHttpError(statusLine, FStatusCode, text);
}

void TnetHttp::FailWithHttpError(Exchange& x, const std::wstring& text) {
    if (!SilentHTTP)
        RaiseHttpError(text);
    const std::string bytes = CharsetEncode(text, FResponseHeader.CharSet());
    x.response->Write(bytes.data(), bytes.size());
}

}  // namespace memoline
