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

// A host name that cannot be converted to Punycode.
class EnetIdnError : public EnetError {
public:
    using EnetError::EnetError;
};

}  // namespace memoline
