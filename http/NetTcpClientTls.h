// The TLS layer between the HTTP client and the TCP transport: a network stream that runs the
// handshake through the transport's read and write steps, checks the server, protects and
// unprotects records and ends the session with a close notice; and the client that uses it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "http/NetSspi.h"
#include "http/NetTcpClient.h"

namespace memoline {

// When the connection carries TLS.
enum class TnetClientTlsMode {
    ctNone,       // plain TCP
    ctAutomatic,  // TLS when the port differs from the client's default port
    ctImplicit,   // TLS from the start: the handshake is part of the open
    ctExplicit,   // plain until a later StartTls (not offered here)
};

// The protocol versions the HTTP client enables: TLS 1.2 only. SSL 3.0, TLS 1.0 and 1.1 are broken
// or withdrawn, and a password travels over this channel; a caller may still ask for more.
inline constexpr TnetTlsFlags kHttpDefaultTlsFlags{TnetTlsFlag::tfUseTLS12};

// Where the secure channel stands: the one state of the TLS stream.
enum class TnetTlsState {
    tsHandshakeDue,      // the session is made: the first handshake step runs at the next write
    tsRenegotiationDue,  // the server asked for a new handshake: its first step runs at once
    tsAwaitingReply,     // a handshake token went out: the server's answer is read next
    tsAwaitingMore,      // the server's handshake message is incomplete: more bytes are read first
    tsOpen,              // the server is accepted: records are protected and unprotected
};

// Told what the server check let pass but support should know: a server accepted although its
// certificate's revocation could not be checked. Called on the connection's thread.
using TnetSecurityNoticeEvent = std::function<void(const std::wstring& text)>;

class TnetTlsNetworkStream : public TnetNetworkStream {
public:
    TnetTlsNetworkStream(TnetConnection& connection,
                         std::wstring targetName,
                         TnetTlsFlags tlsFlags,
                         TnetCertificateVerifyFlags certificateFlags);
    ~TnetTlsNetworkStream() override;

    void OpenClientSession() override;
    void CloseSession(bool notifyPeer) override;
    void Read(TnetStream* target) override;
    bool Write(TnetStream* source) override;
    // A full record of the batch size fits one read once the record sizes are known.
    size_t ReadBatchSize(size_t batchSize) const override {
        return batchSize + (context_ ? context_->PacketSize() : 0);
    }

    bool PeerEndedSession() const override { return FCloseNoticeSeen; }

    void SetNoticeEvent(TnetSecurityNoticeEvent onNotice) { FOnNotice = std::move(onNotice); }

    // The server has been checked and accepted.
    bool PeerVerified() const { return context_ && context_->Certified(); }
    TnetTlsState State() const { return FState; }

private:
    bool InHandshake() const { return FState != TnetTlsState::tsOpen; }
    bool HandshakeStepDue() const {
        return FState == TnetTlsState::tsHandshakeDue || FState == TnetTlsState::tsRenegotiationDue;
    }
    // One handshake step; application data that came with its last message goes to `target`.
    void RunHandshakeStep(TnetStream* target);
    // The provider's next handshake token, answering a client-certificate request without one.
    // On a provider failure its alert is sent once before the failure is raised again.
    TnetSspiReturnCode GenerateHandshakeToken(std::string& token);
    // Accepts the checked server (or fails with the check's text) and opens the channel.
    void CompleteHandshake(bool dataFollowed, TnetStream* target);
    void DecryptReceived(TnetStream* target);
    // Sends FWriteData as far as the socket takes it; sets the next action. False when bytes remain.
    bool Flush();

    std::wstring FTargetName;
    TnetTlsFlags FTLSFlags;
    TnetCertificateVerifyFlags FCertificateFlags;
    TnetTlsState FState = TnetTlsState::tsHandshakeDue;
    std::string FSSPIBuffer;    // received bytes the provider has not consumed yet
    std::string FWriteData;     // protected bytes or a handshake token not sent yet
    std::string FPendingPlain;  // plaintext written during a renegotiation, protected after it
    bool FCloseNoticeSeen = false;
    std::mutex FSSPIAccess;
    std::unique_ptr<TnetTlsClientSspi> context_;
    TnetSecurityNoticeEvent FOnNotice;
};

class TnetTcpClientTls : public TnetTcpClient {
public:
    explicit TnetTcpClientTls(TComponent* owner = nullptr) : TnetTcpClient(owner) {}

    TnetClientTlsMode UseTLS = TnetClientTlsMode::ctNone;
    TnetTlsFlags TLSFlags{TnetTlsFlag::tfUseTLS};
    TnetCertificateVerifyFlags CertificateFlags;
    TnetSecurityNoticeEvent OnSecurityNotice;

    // Runs the TLS handshake on the open plain connection (a proxy's tunnel), checking the server
    // as `targetName`, with the same flags and certificate checks as a direct connection.
    void StartTlsOnOpenConnection(const std::wstring& targetName);

protected:
    // The port that needs no TLS under ctAutomatic; the HTTP client's is 80.
    virtual int DefaultPort() const { return 0; }
    std::unique_ptr<TnetNetworkStream> CreateNetworkStream(TnetConnection& connection) override;

private:
    std::unique_ptr<TnetTlsNetworkStream> CreateTlsStream(TnetConnection& connection, const std::wstring& targetName);
};

}  // namespace memoline
