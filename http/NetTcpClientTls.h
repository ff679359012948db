// The TLS layer between the HTTP client and the TCP transport: a network stream that runs the
// handshake through the transport's read and write steps, checks the server, protects and
// unprotects records and ends the session with a close notice; and the client that uses it.
#pragma once

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
    size_t ReadBatchSize(size_t batchSize) const override { return batchSize + FPacketSize; }

    bool PeerVerified() const { return FPeerVerified; }
    TnetSspiReturnCode SSPIResult() const { return FSSPIResult; }

private:
    bool InHandshake() const {
        return FSSPIResult == TnetSspiReturnCode::rcAuthDataNeeded ||
               FSSPIResult == TnetSspiReturnCode::rcAuthMoreDataNeeded;
    }
    void RunHandshakeStep();
    void DecryptReceived(TnetStream* target);
    // Sends FWriteData as far as the socket takes it; sets the next action. False when bytes remain.
    bool Flush();

    std::wstring FTargetName;
    TnetTlsFlags FTLSFlags;
    TnetCertificateVerifyFlags FCertificateFlags;
    TnetSspiReturnCode FSSPIResult = TnetSspiReturnCode::rcOK;
    std::string FSSPIBuffer;
    std::string FWriteData;
    std::string FPendingPlain;  // plaintext written during a renegotiation, protected after it
    bool FNeedAuthenticate = false;
    bool FPeerVerified = false;
    size_t FPacketSize = 0;
    std::mutex FSSPIAccess;
    std::unique_ptr<TnetTlsClientSspi> context_;
};

class TnetTcpClientTls : public TnetTcpClient {
public:
    explicit TnetTcpClientTls(TComponent* owner = nullptr) : TnetTcpClient(owner) {}

    TnetClientTlsMode UseTLS = TnetClientTlsMode::ctNone;
    TnetTlsFlags TLSFlags{TnetTlsFlag::tfUseTLS};
    TnetCertificateVerifyFlags CertificateFlags;

    // Runs the TLS handshake on the open plain connection (a proxy's tunnel), checking the server
    // as `targetName`, with the same flags and certificate checks as a direct connection.
    void StartTlsOnOpenConnection(const std::wstring& targetName);

protected:
    // The port that needs no TLS under ctAutomatic; the HTTP client's is 80.
    virtual int DefaultPort() const { return 0; }
    std::unique_ptr<TnetNetworkStream> CreateNetworkStream(TnetConnection& connection) override;
};

}  // namespace memoline
