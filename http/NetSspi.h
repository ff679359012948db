// The client side of the secure channel over the system's security support provider interface:
// the provider's function table, the package choice, the handshake steps, record protection, the
// server certificate check and the texts of every secure-channel failure.
#pragma once

#define SECURITY_WIN32
#include <windows.h>

#include <wincrypt.h>

#include <security.h>

#include <schannel.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

#include "core/Crypt32.h"
#include "core/Handles.h"
#include "http/NetSspiApi.h"

namespace memoline {

// A set of enumeration members, as the component settings use them.
template <typename E>
class TnetSet {
public:
    constexpr TnetSet() = default;
    constexpr TnetSet(std::initializer_list<E> members) {
        for (E e : members)
            bits_ |= Bit(e);
    }
    constexpr bool Has(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr void Include(E e) { bits_ |= Bit(e); }
    constexpr void Exclude(E e) { bits_ &= ~Bit(e); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const TnetSet&) const = default;

private:
    static constexpr uint32_t Bit(E e) { return 1u << static_cast<unsigned>(e); }
    uint32_t bits_ = 0;
};

enum class TnetTlsFlag { tfUseSSL2, tfUseSSL3, tfUseTLS, tfUseTLS11, tfUseTLS12 };
using TnetTlsFlags = TnetSet<TnetTlsFlag>;

enum class TnetCertificateVerifyFlag {
    cfIgnoreCommonNameInvalid,
    cfIgnoreDateInvalid,
    cfIgnoreUnknownAuthority,
    cfIgnoreRevocation,
    cfIgnoreWrongUsage,
};
using TnetCertificateVerifyFlags = TnetSet<TnetCertificateVerifyFlag>;

// The result of one security step.
enum class TnetSspiReturnCode {
    rcOK,                         // done: the handshake is complete, or the records were decrypted
    rcError,                      // the step failed
    rcReAuthNeeded,               // the server asks for a new handshake
    rcAuthContinueNeeded,         // a handshake token is ready to be sent
    rcAuthDataNeeded,             // the token was sent: the server's answer is expected
    rcAuthMoreDataNeeded,         // the server's handshake message is incomplete: read more
    rcCompleteNeeded,             // the token must be completed (not used by this provider)
    rcContinueNeeded,             // the provider asks to continue the handshake
    rcClosingNeeded,              // the server closed the session (close notice)
    rcMoreDataNeeded,             // a record is incomplete: read more
    rcEncodeNeeded,               // the handshake is complete and application data followed it
    rcContinueAndMoreDataNeeded,  // continue with more data (not used by this provider)
    rcCredentialNeeded,           // the server asks for a client certificate
};

// Codes of the secure channel's own failures.
inline constexpr int kSspiNoLibrary = -1;
inline constexpr int kSspiNoInitRoutine = -2;
inline constexpr int kSspiNoFunctionTable = -3;
inline constexpr int kSspiCredentialsFailed = -4;
inline constexpr int kSspiNoPackage = -5;
inline constexpr int kSspiStreamSizesFailed = -6;
inline constexpr int kSspiNoLocalCertificate = -9;
inline constexpr int kSspiServerCheckFailed = -11;
inline constexpr int kSspiRenegotiationNotStarted = -13;

// The text for a secure-channel status code or own code; "The unknown error was occured: %x" for
// a code not in the table.
std::wstring SspiErrorText(int code);

// The enabled-protocols bits of the channel credential record for a flag set.
DWORD EnabledProtocols(TnetTlsFlags flags);
// The policy's checks to ignore for a flag set.
DWORD IgnoredChecks(TnetCertificateVerifyFlags flags);

namespace handle_traits {
struct cert_context {
    using pointer = PCCERT_CONTEXT;
    static pointer invalid() { return nullptr; }
    static void close(pointer c) { core::crypt32::CertFreeCertificateContext(c); }
};
struct cert_chain {
    using pointer = PCCERT_CHAIN_CONTEXT;
    static pointer invalid() { return nullptr; }
    static void close(pointer c) { core::crypt32::CertFreeCertificateChain(c); }
};
}  // namespace handle_traits

using unique_cert_context = unique_any<handle_traits::cert_context>;
using unique_cert_chain = unique_any<handle_traits::cert_chain>;

// The server check's outcome for one chain, from the chain's own error status and the SSL policy's
// verdict (the policy told to leave revocation aside: it is judged here, from the chain).
struct TnetChainVerdict {
    long Verdict = 0;              // 0: certified; else the status the server is refused with
    long UncheckedRevocation = 0;  // why revocation could not be checked (CRYPT_E_...), 0 when it was
};

// A revoked certificate is refused as revoked (CRYPT_E_REVOKED), whatever else is wrong with it;
// revocation information that cannot be reached leaves the verdict to the rest of the chain, as
// browsers do, and is reported instead. A chain with no path to any root is refused unless unknown
// authorities are ignored. `revocationChecked` tells that the chain was built with revocation.
TnetChainVerdict JudgeServerChain(DWORD chainErrorStatus,
                                  long policyVerdict,
                                  bool revocationChecked,
                                  bool ignoreUnknownAuthority);

// The support log's line for a server accepted without its revocation check: who, and the
// system's text for why (`code` as in TnetChainVerdict::UncheckedRevocation).
std::wstring UncheckedRevocationNotice(const std::wstring& server, long code);

// The package this client uses: the first of the preferred names that the system lists.
// Throws EnetSSPIError (-5) when none is present.
std::string ChooseSecurityPackage();

// One client session of the secure channel: the provider's calls on one credential and context
// pair. Where the channel stands is the TLS stream's state; this object keeps only what the
// provider needs between calls. Not copyable; releases its handles when destroyed.
class TnetTlsClientSspi {
public:
    TnetTlsClientSspi(std::wstring targetName, TnetTlsFlags tlsFlags, TnetCertificateVerifyFlags certificateFlags);
    TnetTlsClientSspi(const TnetTlsClientSspi&) = delete;
    TnetTlsClientSspi& operator=(const TnetTlsClientSspi&) = delete;

    // One handshake step. `input` holds received bytes not yet consumed (consumed ones are removed;
    // extra bytes after the handshake stay); `token` receives what must be sent. With
    // `acceptEmptyCredentials` a client-certificate request is answered without one. `renegotiating`
    // starts the new handshake the server asked for, even without new input. When the handshake
    // completes the server's certificate is checked, at the first handshake and after every new one.
    // Throws EnetSSPIError on a provider failure (`token` may then hold an alert to send).
    TnetSspiReturnCode GenContext(std::string& input,
                                  std::string& token,
                                  bool acceptEmptyCredentials,
                                  bool renegotiating = false);

    // Protects `count` bytes as records of at most the provider's maximum message size, appended
    // to `out`. Throws EnetSSPIError.
    void Encrypt(const char* data, size_t count, std::string& out);

    // Decrypts the complete records at the start of `buffer`, handing each record's data to `sink`;
    // the bytes of an incomplete record stay in `buffer`. Returns rcOK (all consumed),
    // rcMoreDataNeeded, rcClosingNeeded (close notice) or rcReAuthNeeded (`buffer` then holds what
    // the next handshake step must get). Throws EnetSSPIError.
    TnetSspiReturnCode Decrypt(std::string& buffer, const std::function<void(const char*, size_t)>& sink);

    // The close notice, or nothing without a session. Throws EnetSSPIError.
    std::string CloseNotify();

    // Queried from the provider at the first call. Throws EnetSSPIError (-6).
    const SecPkgContext_StreamSizes& StreamSizes();
    // Record header plus trailer size once the stream sizes are known, else 0.
    size_t PacketSize() const;
    // The handshake has completed and the server's certificate has been checked.
    bool HandshakeDone() const { return FServerVerdict.has_value(); }
    bool Certified() const { return FServerVerdict == 0L; }
    // The check's status code when the server is not certified.
    long ServerVerdict() const { return FServerVerdict.value_or(0); }
    // Why the accepted server's revocation could not be checked (CRYPT_E_REVOCATION_OFFLINE,
    // CRYPT_E_NO_REVOCATION_CHECK), 0 when it was checked or is not asked for.
    long UncheckedRevocation() const { return FUncheckedRevocation; }
    const std::string& PackageName() const { return packageName_; }

    // Runs the calls that can wait on the network (the certificate chain fetches missing issuers):
    // by default on this thread; the TLS stream hands them to its connection, which runs them off it.
    using TBlockingCallRunner = std::function<void(std::function<void()>)>;
    void SetBlockingCallRunner(TBlockingCallRunner runner) { FRunBlocking = std::move(runner); }

private:
    using Sink = std::function<void(const char*, size_t)>;

    void AcquireCredentials();
    // The handshake's first call: credentials, then the first token without input.
    TnetSspiReturnCode StartHandshake(std::string& token);
    // One call with `input`; consumes what the provider took unless it asked for more.
    SECURITY_STATUS ContinueHandshake(std::string& input, std::string& produced, ULONG& attributes);
    bool HandshakeGoesOn() const;
    TnetSspiReturnCode FinishHandshake(const std::string& input);
    // The context requirements, with "no client certificate is supplied" once a server asked for one.
    ULONG RequestFlags() const;
    void CheckServerCertificate();
    // Decrypts the record at `used`, advancing `used` past what it took.
    TnetSspiReturnCode DecryptRecord(std::string& buffer, size_t& used, const Sink& sink);

    std::string packageName_;
    std::wstring FTargetName;
    std::string targetAnsi_;
    TnetTlsFlags FTLSFlags;
    TnetCertificateVerifyFlags FCertificateFlags;
    TnetSspiHandles handles_;
    std::optional<SecPkgContext_StreamSizes> FStreamSizes;
    long FStatusCode = 0;                // the provider's last handshake status
    bool FRenegotiating = false;         // a new handshake runs: the server is checked again at its end
    bool FWithoutCertificate = false;    // a server asked for a client certificate: we go on without
    std::optional<long> FServerVerdict;  // the certificate check's status, 0 when certified
    long FUncheckedRevocation = 0;
    unique_cert_context FPeerCertificate;  // the server's certificate, kept after the check
    TBlockingCallRunner FRunBlocking;
};

}  // namespace memoline
