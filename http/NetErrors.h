// The exceptions of the HTTP client family. Each carries a message text and an integer ErrorCode:
// negative codes are the client's own failures, positive ones socket codes, secure-channel status
// codes or HTTP status codes. No platform code: builds in the host lane too.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace memoline {

// The common base: a message text and a code.
class EnetError : public std::exception {
public:
    explicit EnetError(std::wstring message, int errorCode = 0)
        : message_(std::move(message)), errorCode_(errorCode), narrow_(message_.begin(), message_.end()) {}

    const std::wstring& Message() const noexcept { return message_; }
    int ErrorCode() const noexcept { return errorCode_; }
    // The message with each character narrowed to a byte; for logs and test output only.
    const char* what() const noexcept override { return narrow_.c_str(); }

private:
    std::wstring message_;
    int errorCode_;
    std::string narrow_;
};

// Transport failures: name resolution, connect, send, receive, time-out, a refused server certificate.
class EnetSocketError : public EnetError {
public:
    using EnetError::EnetError;
};

class EnetTcpClientError : public EnetSocketError {
public:
    using EnetSocketError::EnetSocketError;
};

// An HTTP status that ends a request: the status line as message, the status as code, the body.
class EnetHttpError : public EnetTcpClientError {
public:
    EnetHttpError(std::wstring statusLine, int status, std::wstring responseText)
        : EnetTcpClientError(std::move(statusLine), status), responseText_(std::move(responseText)) {}
    const std::wstring& ResponseText() const noexcept { return responseText_; }

private:
    std::wstring responseText_;
};

// Failures of the secure channel's provider calls.
class EnetSSPIError : public EnetError {
public:
    using EnetError::EnetError;
};

// A corrupt gzip body.
class EnetZLibError : public EnetError {
public:
    using EnetError::EnetError;
};

// A response whose framing is broken or whose size is beyond a limit: the answer is not taken whole.
class EnetBodyError : public EnetError {
public:
    using EnetError::EnetError;
};

// The codes of EnetBodyError.
inline constexpr int kNetMalformedChunk = -9;  // a chunk size line or the line break after a chunk
inline constexpr int kNetInvalidLength =
    -10;  // a Content-Length that is empty, negative, not a number or contradictory
inline constexpr int kNetTooManyFields = -11;   // more header fields than the limit
inline constexpr int kNetAnswerTooLarge = -12;  // a body beyond the caller's limit
inline constexpr int kNetSessionTruncated =
    -13;  // a body that lasts until the close ended without the TLS close notice

// Throws the transport's EnetSocketError for a request given up (an abort or a quit request):
// "The connection to the server is not active".
[[noreturn]] void RaiseRequestGivenUp();

// A host name that cannot be converted to Punycode.
class EnetIdnError : public EnetError {
public:
    using EnetError::EnetError;
};

}  // namespace memoline
