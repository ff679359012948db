#include "http/NetTcpClientTls.h"

#include <climits>
#include <vector>

#include "http/NetErrors.h"

namespace memoline {

TnetTlsNetworkStream::TnetTlsNetworkStream(TnetConnection& connection,
                                           std::wstring targetName,
                                           TnetTlsFlags tlsFlags,
                                           TnetCertificateVerifyFlags certificateFlags)
    : TnetNetworkStream(connection),
      FTargetName(std::move(targetName)),
      FTLSFlags(tlsFlags),
      FCertificateFlags(certificateFlags) {}

TnetTlsNetworkStream::~TnetTlsNetworkStream() = default;

void TnetTlsNetworkStream::OpenClientSession() {
    {
        std::lock_guard<std::mutex> guard(FSSPIAccess);
        context_.reset();
        context_ = std::make_unique<TnetTlsClientSspi>(FTargetName, FTLSFlags, FCertificateFlags);
        context_->SetBlockingCallRunner(
            [this](std::function<void()> work) { connection_.RunBlockingCall(std::move(work)); });
    }
    FSSPIBuffer.clear();
    FWriteData.clear();
    FPendingPlain.clear();
    FNeedClose = false;
    FCloseNoticeSeen = false;
    FState = TnetTlsState::tsHandshakeDue;
    FNextAction = TnetNetworkStreamAction::saWrite;
}

void TnetTlsNetworkStream::RunHandshakeStep(TnetStream* target) {
    std::string token;
    const bool renegotiationStarts = FState == TnetTlsState::tsRenegotiationDue;
    const TnetSspiReturnCode result = GenerateHandshakeToken(token);
    // A provider that asks for more of the server instead of starting the new handshake would wait
    // for ever: the server waits for us. Wine's does so; it fails here, at once, with its own text.
    if (renegotiationStarts && result == TnetSspiReturnCode::rcAuthMoreDataNeeded && token.empty() &&
        FSSPIBuffer.empty())
        throw EnetSSPIError(SspiErrorText(kSspiRenegotiationNotStarted), kSspiRenegotiationNotStarted);
    FWriteData += token;
    switch (result) {
        case TnetSspiReturnCode::rcAuthMoreDataNeeded:
            FState = TnetTlsState::tsAwaitingMore;
            break;
        case TnetSspiReturnCode::rcOK:
        case TnetSspiReturnCode::rcEncodeNeeded:
            CompleteHandshake(result == TnetSspiReturnCode::rcEncodeNeeded, target);
            break;
        default:  // a token to send: the server answers it
            FState = TnetTlsState::tsAwaitingReply;
            break;
    }
    Flush();
}

TnetSspiReturnCode TnetTlsNetworkStream::GenerateHandshakeToken(std::string& token) {
    const bool renegotiating = FState == TnetTlsState::tsRenegotiationDue;
    try {
        TnetSspiReturnCode result = context_->GenContext(FSSPIBuffer, token, false, renegotiating);
        if (result != TnetSspiReturnCode::rcCredentialNeeded)
            return result;
        // No client certificate is offered: go on without one.
        result = context_->GenContext(FSSPIBuffer, token, true);
        if (result == TnetSspiReturnCode::rcCredentialNeeded)
            throw EnetSocketError(SspiErrorText(kSspiNoLocalCertificate), kSspiNoLocalCertificate);
        return result;
    } catch (const EnetSSPIError&) {
        // The provider's alert tells the server why; sent once, as far as the socket takes it.
        if (!token.empty()) {
            try {
                connection_.Send(token.data(), static_cast<int>(token.size()));
            } catch (const EnetError&) {
            }
        }
        throw;
    }
}

void TnetTlsNetworkStream::CompleteHandshake(bool dataFollowed, TnetStream* target) {
    // No verification event is attached: the check's verdict stands.
    if (!context_->Certified()) {
        const long status = context_->ServerVerdict();
        throw EnetSocketError(SspiErrorText(static_cast<int>(status)), static_cast<int>(status));
    }
    if (context_->UncheckedRevocation() != 0 && FOnNotice)
        FOnNotice(UncheckedRevocationNotice(FTargetName, context_->UncheckedRevocation()));
    context_->StreamSizes();  // asked after every handshake, before the first record
    FState = TnetTlsState::tsOpen;
    if (!FPendingPlain.empty()) {
        context_->Encrypt(FPendingPlain.data(), FPendingPlain.size(), FWriteData);
        FPendingPlain.clear();
    }
    if (dataFollowed)
        DecryptReceived(target);  // application data came with the last handshake message
}

void TnetTlsNetworkStream::DecryptReceived(TnetStream* target) {
    TnetSspiReturnCode result =
        context_->Decrypt(FSSPIBuffer, [&](const char* data, size_t count) { Deliver(target, data, count); });
    switch (result) {
        case TnetSspiReturnCode::rcClosingNeeded:
            FNeedClose = true;
            FCloseNoticeSeen = true;
            FNextAction = TnetNetworkStreamAction::saNone;
            break;
        case TnetSspiReturnCode::rcReAuthNeeded:
            // The server asks for a new handshake and waits for it: it runs now, inside the read,
            // with what followed the request; the answer's data after it comes to the same target.
            FState = TnetTlsState::tsRenegotiationDue;
            RunHandshakeStep(target);
            break;
        default:
            // An incomplete record waits for the caller's next read; no read of our own is asked
            // for, as the server may be waiting for the caller's next request.
            FNextAction = TnetNetworkStreamAction::saNone;
            break;
    }
}

bool TnetTlsNetworkStream::Flush() {
    while (!FWriteData.empty()) {
        int sent = connection_.Send(FWriteData.data(), static_cast<int>(std::min<size_t>(FWriteData.size(), INT_MAX)));
        if (sent == 0) {
            FNextAction = TnetNetworkStreamAction::saWrite;
            return false;
        }
        FWriteData.erase(0, static_cast<size_t>(sent));
    }
    if (HandshakeStepDue())
        FNextAction = TnetNetworkStreamAction::saWrite;
    else if (InHandshake())
        FNextAction = TnetNetworkStreamAction::saRead;
    else
        FNextAction = TnetNetworkStreamAction::saNone;
    return true;
}

bool TnetTlsNetworkStream::Write(TnetStream* source) {
    if (!context_)
        return true;
    if (HandshakeStepDue())
        RunHandshakeStep(nullptr);  // the caller's bytes below wait for the handshake's end
    if (source != nullptr) {
        std::vector<char> piece(static_cast<size_t>(connection_.BatchSize()));
        for (;;) {
            size_t count = source->Read(piece.data(), piece.size());
            if (count == 0)
                break;
            // During a new handshake the plaintext waits until the session can protect it again.
            if (InHandshake())
                FPendingPlain.append(piece.data(), count);
            else
                context_->Encrypt(piece.data(), count, FWriteData);
            FBytesProceed += static_cast<int64_t>(count);
        }
    }
    return Flush();
}

void TnetTlsNetworkStream::Read(TnetStream* target) {
    if (!context_)
        return TnetNetworkStream::Read(target);
    std::vector<char> buffer(ReadBatchSize(static_cast<size_t>(connection_.BatchSize())));
    bool any = false;
    for (;;) {
        int received = connection_.Receive(buffer.data(), static_cast<int>(buffer.size()));
        if (received < 0)
            break;
        if (received == 0) {
            FNeedClose = true;
            break;
        }
        FSSPIBuffer.append(buffer.data(), static_cast<size_t>(received));
        any = true;
        // A batch at a time: a server that sends faster than we decrypt would otherwise keep this
        // loop, and the undecrypted bytes, growing for ever. The socket signals again for the rest.
        if (FSSPIBuffer.size() >= buffer.size())
            break;
    }
    if (!any)
        return;
    if (InHandshake())
        RunHandshakeStep(target);
    else
        DecryptReceived(target);
}

void TnetTlsNetworkStream::CloseSession(bool notifyPeer) {
    std::lock_guard<std::mutex> guard(FSSPIAccess);
    if (!context_)
        return;
    std::unique_ptr<TnetTlsClientSspi> context = std::move(context_);
    if (notifyPeer && context->HandshakeDone()) {
        std::string notice = context->CloseNotify();
        if (!notice.empty()) {
            // Sent once, as far as the socket takes it at once: the connection closes next.
            connection_.Send(notice.data(), static_cast<int>(notice.size()));
        }
    }
}

void TnetTcpClientTls::StartTlsOnOpenConnection(const std::wstring& targetName) {
    try {
        Connection().StartSessionOnOpenConnection(CreateTlsStream(Connection(), targetName));
    } catch (...) {
        Connection().Close(false);
        throw;
    }
}

std::unique_ptr<TnetNetworkStream> TnetTcpClientTls::CreateNetworkStream(TnetConnection& connection) {
    bool tls =
        UseTLS == TnetClientTlsMode::ctImplicit || (UseTLS == TnetClientTlsMode::ctAutomatic && Port != DefaultPort());
    if (!tls)
        return TnetTcpClient::CreateNetworkStream(connection);
    return CreateTlsStream(connection, Server);
}

std::unique_ptr<TnetTlsNetworkStream> TnetTcpClientTls::CreateTlsStream(TnetConnection& connection,
                                                                        const std::wstring& targetName) {
    auto stream = std::make_unique<TnetTlsNetworkStream>(connection, targetName, TLSFlags, CertificateFlags);
    stream->SetNoticeEvent(OnSecurityNotice);
    return stream;
}

}  // namespace memoline
