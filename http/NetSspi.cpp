#include "http/NetSspi.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "core/ChainRevocation.h"
#include "core/Crypt32.h"
#include "core/ErrorText.h"
#include "http/NetErrors.h"

namespace memoline {
namespace {

struct SspiTableEntry {
    long code;
    const wchar_t* text;
};

constexpr SspiTableEntry kErrorTexts[] = {
    {20, L"Out of memory"},
    {static_cast<long>(0x80090301), L"The handle specified is invalid"},
    {static_cast<long>(0x80090302), L"The function requested is not supported"},
    {static_cast<long>(0x80090303), L"The specified target is unknown or unreachable"},
    {static_cast<long>(0x80090304), L"The Local Security Authority cannot be contacted"},
    {static_cast<long>(0x80090305), L"The requested security package does not exist"},
    {static_cast<long>(0x80090306), L"The caller is not the owner of the desired credentials"},
    {static_cast<long>(0x80090307), L"The security package failed to initialize, and cannot be installed"},
    {static_cast<long>(0x80090308), L"The token supplied to the function is invalid"},
    {static_cast<long>(0x80090309),
     L"The security package is not able to marshall the logon buffer, so the logon attempt has failed"},
    {static_cast<long>(0x8009030A), L"The per-message Quality of Protection is not supported by the security package"},
    {static_cast<long>(0x8009030B), L"The security context does not allow impersonation of the client"},
    {static_cast<long>(0x8009030C), L"The logon attempt failed"},
    {static_cast<long>(0x8009030D), L"The credentials supplied to the package were not recognized"},
    {static_cast<long>(0x8009030E), L"No credentials are available in the security package"},
    {static_cast<long>(0x8009030F), L"The message supplied for verification has been altered"},
    {static_cast<long>(0x80090310), L"The message supplied for verification is out of sequence"},
    {static_cast<long>(0x80090311), L"No authority could be contacted for authentication"},
    {static_cast<long>(0x80090316), L"The requested security package does not exist"},
    {static_cast<long>(0x80090317), L"The context has expired and can no longer be used"},
    {static_cast<long>(0x80090318), L"The supplied message is incomplete. The signature was not verified"},
    {static_cast<long>(0x80090320),
     L"The credentials supplied were not complete, and could not be verified. The context could not be initialized"},
    {static_cast<long>(0x80090321), L"The buffers supplied to a function was too small"},
    {static_cast<long>(0x80090322), L"The target principal name is incorrect"},
    {static_cast<long>(0x80090325), L"The certificate chain was issued by an authority that is not trusted"},
    {static_cast<long>(0x80090326), L"The message received was unexpected or badly formatted"},
    {static_cast<long>(0x80090327), L"An unknown error occurred while processing the certificate"},
    {static_cast<long>(0x80090328), L"The received certificate has expired"},
    {static_cast<long>(0x80090330), L"The specified data could not be decrypted"},
    {static_cast<long>(0x80090331),
     L"The client and server cannot communicate because they do not possess a common algorithm"},
    {static_cast<long>(0x80090349), L"The certificate is not valid for the requested usage"},
    {static_cast<long>(0x8009035D), L"One or more of the parameters passed to the function was invalid"},
    {static_cast<long>(0x80092010), L"The certificate is revoked"},
    {static_cast<long>(0x80092012), L"The revocation function was unable to check revocation for the certificate"},
    {static_cast<long>(0x80092013),
     L"The revocation function was unable to check revocation because the revocation server was offline"},
    {static_cast<long>(0x80096004), L"The signature of the certificate cannot be verified"},
    {static_cast<long>(0x800B0100), L"No signature was present in the subject"},
    {static_cast<long>(0x800B0101),
     L"A required certificate is not within its validity period when verifying against the current system "
     L"clock or the timestamp in the signed file"},
    {static_cast<long>(0x800B0102), L"The validity periods of the certification chain do not nest correctly"},
    {static_cast<long>(0x800B0103),
     L"A certificate that can only be used as an end-entity is being used as a CA or visa versa"},
    {static_cast<long>(0x800B0104), L"A path length constraint in the certification chain has been violated"},
    {static_cast<long>(0x800B0105), L"A certificate contains an unknown extension that is marked 'critical'"},
    {static_cast<long>(0x800B0106), L"A certificate being used for a purpose other than the ones specified by its CA"},
    {static_cast<long>(0x800B0107), L"A parent of a given certificate in fact did not issue that child certificate"},
    {static_cast<long>(0x800B0108),
     L"A certificate is missing or has an empty value for an important field, such as a subject or issuer name"},
    {static_cast<long>(0x800B0109),
     L"A certificate chain processed correctly, but terminated in a root certificate which is not trusted by the "
     L"trust provider"},
    {static_cast<long>(0x800B010A), L"An internal certificate chaining error has occurred"},
    {static_cast<long>(0x800B010B), L"Generic trust failure"},
    {static_cast<long>(0x800B010C), L"A certificate was explicitly revoked by its issuer"},
    {static_cast<long>(0x800B010D),
     L"The certification path terminates with the test root which is not trusted with the current policy settings"},
    {static_cast<long>(0x800B010E),
     L"The revocation process could not continue - the certificate(s) could not be checked"},
    {static_cast<long>(0x800B010F), L"The certificate's CN name does not match the passed value"},
    {static_cast<long>(0x800B0110), L"The certificate is not valid for the requested usage"},
    {static_cast<long>(0x800B0111), L"The certificate was explicitly marked as untrusted by the user"},
    {static_cast<long>(0x800B0112),
     L"A certification chain processed correctly, but one of the CA certificates is not trusted by the policy "
     L"provider"},
    {static_cast<long>(0x800B0113), L"The certificate has invalid policy"},
    {static_cast<long>(0x800B0114),
     L"The certificate has an invalid name. The name is not included in the permitted list or is explicitly "
     L"excluded"},
    {-1, L"Could not load the dll (schannel.dll, security.dll or secur32.dll)"},
    {-2, L"Could not get security initialization routine"},
    {-3, L"Could not initialize the security package"},
    {-4, L"AcquireCredentials failed"},
    {-5, L"None of needed security package was found"},
    {-6, L"Could not query package information"},
    {-9, L"Error querying local certificate"},
    {-11, L"Error occured when authenticating server credentials"},
    {-12, L"Not supported"},
    {-13, L"The server asked for a new secure handshake, which could not be started"},
};

const wchar_t* TableText(long code) {
    for (const auto& entry : kErrorTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return nullptr;
}

// A failed provider call: the table's text for its status, else the call's own text when it has
// one, else the unknown-error text.
[[noreturn]] void RaiseSspi(long status, int ownCode = 0) {
    const wchar_t* text = TableText(status);
    if (text == nullptr && ownCode != 0)
        text = TableText(ownCode);
    throw EnetSSPIError(text != nullptr ? std::wstring(text) : SspiErrorText(static_cast<int>(status)),
                        static_cast<int>(status));
}

// Provider status codes that are not failures.
constexpr long kContinueNeeded = SEC_I_CONTINUE_NEEDED;                // 0x00090312
constexpr long kIncompleteMessage = SEC_E_INCOMPLETE_MESSAGE;          // 0x80090318
constexpr long kIncompleteCredentials = SEC_I_INCOMPLETE_CREDENTIALS;  // 0x00090320
constexpr long kContextExpired = SEC_I_CONTEXT_EXPIRED;                // 0x00090317: the peer's close notice
constexpr long kRenegotiate = SEC_I_RENEGOTIATE;                       // 0x00090321

// Replay and sequence detection, confidentiality, buffers allocated by the provider, extended
// errors (an alert token on failure), stream mode: 0xC11C.
constexpr ULONG kRequestFlags = ISC_REQ_REPLAY_DETECT | ISC_REQ_SEQUENCE_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_EXTENDED_ERROR | ISC_REQ_STREAM;
static_assert(kRequestFlags == 0xC11C);

// The SSL policy's checks to ignore (the SECURITY_FLAG_IGNORE_* values of the Internet client API).
constexpr DWORD kIgnoreCommonNameInvalid = 0x1000;
constexpr DWORD kIgnoreDateInvalid = 0x2000;
constexpr DWORD kIgnoreUnknownAuthority = 0x100;
constexpr DWORD kIgnoreRevocation = 0x80;
constexpr DWORD kIgnoreWrongUsage = 0x200;

constexpr unsigned char kAlertRecord = 0x15;  // TLS record content type of an alert

// The first buffer of `type` among a DecryptMessage's four, or nullptr.
const SecBuffer* FindBuffer(const SecBuffer (&buffers)[4], unsigned long type) {
    for (const auto& b : buffers) {
        if (b.BufferType == type)
            return &b;
    }
    return nullptr;
}

std::string AnsiText(const std::wstring& text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

}  // namespace

std::wstring SspiErrorText(int code) {
    if (const wchar_t* text = TableText(code))
        return text;
    // The system's own text for what the table lacks (Wine has none for the provider's codes).
    if (code > 0 || code < -0xFFFF) {
        std::wstring system = ErrorText(code);
        while (!system.empty() && (system.back() == L'.' || system.back() == L' '))
            system.pop_back();
        if (!system.empty())
            return system;
    }
    wchar_t buffer[64];
    swprintf(buffer, 64, L"The unknown error was occured: %x", static_cast<unsigned>(code));
    return buffer;
}

DWORD EnabledProtocols(TnetTlsFlags flags) {
    using F = TnetTlsFlag;
    DWORD bits = 0;
    if (flags.Has(F::tfUseSSL2) && !flags.Has(F::tfUseTLS12))
        bits |= SP_PROT_SSL2_CLIENT;  // 0x8
    if (flags.Has(F::tfUseSSL3))
        bits |= SP_PROT_SSL3_CLIENT;  // 0x20
    if (flags.Has(F::tfUseTLS))
        bits |= SP_PROT_TLS1_CLIENT;  // 0x80
    if (flags.Has(F::tfUseTLS11))
        bits |= SP_PROT_TLS1_1_CLIENT;  // 0x200
    if (flags.Has(F::tfUseTLS12))
        bits |= SP_PROT_TLS1_2_CLIENT;  // 0x800
    return bits;
}

DWORD IgnoredChecks(TnetCertificateVerifyFlags flags) {
    using F = TnetCertificateVerifyFlag;
    DWORD bits = 0;
    if (flags.Has(F::cfIgnoreCommonNameInvalid))
        bits |= kIgnoreCommonNameInvalid;
    if (flags.Has(F::cfIgnoreDateInvalid))
        bits |= kIgnoreDateInvalid;
    if (flags.Has(F::cfIgnoreUnknownAuthority))
        bits |= kIgnoreUnknownAuthority;
    if (flags.Has(F::cfIgnoreRevocation))
        bits |= kIgnoreRevocation;
    if (flags.Has(F::cfIgnoreWrongUsage))
        bits |= kIgnoreWrongUsage;
    return bits;
}

std::string ChooseSecurityPackage() {
    static const char* const kPreferred[] = {"Microsoft Unified Security Protocol Provider", "Microsoft SSL 3.0",
                                             "NTLM", "Negotiate"};
    const auto& sspi = SspiFunctions();
    unsigned long count = 0;
    PSecPkgInfoA packages = nullptr;
    if (sspi.EnumerateSecurityPackagesA(&count, &packages) != SEC_E_OK)
        RaiseSspi(kSspiNoPackage);
    std::string chosen;
    for (const char* wanted : kPreferred) {
        for (unsigned long i = 0; i < count && chosen.empty(); ++i) {
            if (packages[i].Name != nullptr && std::strcmp(packages[i].Name, wanted) == 0)
                chosen = wanted;
        }
        if (!chosen.empty())
            break;
    }
    sspi.FreeContextBuffer(packages);
    if (chosen.empty())
        RaiseSspi(kSspiNoPackage);
    return chosen;
}

// --- TnetTlsClientSspi ---------------------------------------------------------------------------

TnetTlsClientSspi::TnetTlsClientSspi(std::wstring targetName,
                                     TnetTlsFlags tlsFlags,
                                     TnetCertificateVerifyFlags certificateFlags)
    : packageName_(ChooseSecurityPackage()),
      FTargetName(std::move(targetName)),
      targetAnsi_(AnsiText(FTargetName)),
      FTLSFlags(tlsFlags),
      FCertificateFlags(certificateFlags) {}

void TnetTlsClientSspi::AcquireCredentials() {
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;  // 4
    credentials.grbitEnabledProtocols = EnabledProtocols(FTLSFlags);
    // No client certificate chosen by the system; the server's certificate is checked here, not by
    // the provider; no RC4, 3DES or other weak suite, which Windows 7 still offers without the flag.
    credentials.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION | SCH_USE_STRONG_CRYPTO;
    SECURITY_STATUS status = handles_.AcquireCredentials(packageName_.c_str(), &credentials);
    if (status != SEC_E_OK)
        RaiseSspi(status, kSspiCredentialsFailed);
}

TnetSspiReturnCode TnetTlsClientSspi::GenContext(std::string& input,
                                                 std::string& token,
                                                 bool acceptEmptyCredentials,
                                                 bool renegotiating) {
    token.clear();
    if (!handles_.HasContext())
        return StartHandshake(token);
    if (renegotiating) {
        FStatusCode = kContinueNeeded;
        FRenegotiating = true;
    }
    bool called = false;
    bool askedAgainWithoutCertificate = false;
    bool goWithoutInput = renegotiating;  // a new handshake's first call needs no new bytes
    while (HandshakeGoesOn()) {
        // Nothing new to give the provider: wait for the server.
        if (input.empty() ? !goWithoutInput : called && FStatusCode == kIncompleteMessage)
            return TnetSspiReturnCode::rcAuthMoreDataNeeded;
        called = true;
        goWithoutInput = false;
        std::string produced;
        ULONG attributes = 0;
        const SECURITY_STATUS status = ContinueHandshake(input, produced, attributes);
        if (status == kIncompleteMessage)
            return TnetSspiReturnCode::rcAuthMoreDataNeeded;  // the input is kept whole
        if (status == kIncompleteCredentials) {
            // The server asks for a client certificate; the input is given again after the answer,
            // once, telling the provider that none is supplied.
            if (!acceptEmptyCredentials || askedAgainWithoutCertificate)
                return TnetSspiReturnCode::rcCredentialNeeded;
            askedAgainWithoutCertificate = true;
            FWithoutCertificate = true;
            FStatusCode = kContinueNeeded;
            called = false;
            continue;
        }
        const bool errorReply = FAILED(status) && (attributes & ISC_RET_EXTENDED_ERROR) != 0;
        if (status == SEC_E_OK || status == kContinueNeeded || errorReply)
            token = std::move(produced);
        if (status == kContinueNeeded) {
            if (!token.empty())
                return TnetSspiReturnCode::rcAuthContinueNeeded;
            continue;
        }
        if (status != SEC_E_OK)
            RaiseSspi(status);
        return FinishHandshake(input);
    }
    return TnetSspiReturnCode::rcOK;
}

TnetSspiReturnCode TnetTlsClientSspi::StartHandshake(std::string& token) {
    AcquireCredentials();
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    const SECURITY_STATUS status =
        handles_.InitializeContext(targetAnsi_.c_str(), kRequestFlags, 0, nullptr, &outDesc, attributes);
    FStatusCode = status;
    std::string first = TakeSspiBuffer(out);
    if (status != kContinueNeeded && status != SEC_E_OK)
        RaiseSspi(status);
    token = std::move(first);
    return TnetSspiReturnCode::rcAuthContinueNeeded;
}

SECURITY_STATUS TnetTlsClientSspi::ContinueHandshake(std::string& input, std::string& produced, ULONG& attributes) {
    SecBuffer in[2] = {{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, input.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    const SECURITY_STATUS status =
        handles_.InitializeContext(targetAnsi_.c_str(), RequestFlags(), 0, &inDesc, &outDesc, attributes);
    FStatusCode = status;
    produced = TakeSspiBuffer(out);
    if (status == kIncompleteMessage || status == kIncompleteCredentials)
        return status;
    // What the provider did not take (extra data) stays for the next call.
    if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= input.size())
        input.erase(0, input.size() - in[1].cbBuffer);
    else
        input.clear();
    return status;
}

bool TnetTlsClientSspi::HandshakeGoesOn() const {
    return FStatusCode == kContinueNeeded || FStatusCode == kIncompleteMessage || FStatusCode == kIncompleteCredentials;
}

TnetSspiReturnCode TnetTlsClientSspi::FinishHandshake(const std::string& input) {
    // A new handshake may have brought another certificate and other record sizes.
    if (!FServerVerdict || FRenegotiating) {
        FRenegotiating = false;
        FStreamSizes.reset();
        CheckServerCertificate();
    }
    // Bytes left over are application data that followed the handshake.
    return input.empty() ? TnetSspiReturnCode::rcOK : TnetSspiReturnCode::rcEncodeNeeded;
}

ULONG TnetTlsClientSspi::RequestFlags() const {
    return FWithoutCertificate ? kRequestFlags | ISC_REQ_USE_SUPPLIED_CREDS : kRequestFlags;
}

namespace {

// One verification of the server's chain, owned by the call that runs it: a given-up one finishes on
// its worker with its own copy of the certificate.
struct TChainCheck {
    unique_cert_context certificate;
    std::wstring serverName;
    DWORD ignoredChecks = 0;
    bool checkRevocation = true;
    bool ignoreUnknownAuthority = false;
    long failure = 0;  // the error of a chain call that failed, 0 when both ran
    TnetChainVerdict verdict;
};

bool IsUncheckedRevocationCode(long code) {
    return code == static_cast<long>(CRYPT_E_REVOCATION_OFFLINE) ||
           code == static_cast<long>(CRYPT_E_NO_REVOCATION_CHECK) ||
           code == static_cast<long>(CERT_E_REVOCATION_FAILURE);
}

// The chain with revocation checked for every certificate but the root, which the store vouches for.
// Fetching a CRL can take the network's long time-outs: this runs on the connection's worker.
bool BuildServerChain(const TChainCheck& check, unique_cert_chain& chain) {
    PCCERT_CONTEXT certificate = check.certificate.get();
    // A certificate made for another purpose (client sign-in, code signing) does not name a server.
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    const DWORD flags = check.checkRevocation ? CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT : 0;
    return core::crypt32::CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara,
                                                  flags, nullptr, chain.put()) != FALSE;
}

void RunChainCheck(TChainCheck& check) {
    unique_cert_chain chain;
    if (!BuildServerChain(check, chain)) {
        check.failure = static_cast<long>(GetLastError());
        return;
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara{};
    sslPara.cbSize = sizeof sslPara;
    sslPara.dwAuthType = AUTHTYPE_SERVER;  // 2
    // Revocation is judged from the chain itself (JudgeServerChain), not by the policy.
    sslPara.fdwChecks = check.ignoredChecks | kIgnoreRevocation;
    sslPara.pwszServerName = check.serverName.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policyPara.pvExtraPolicyPara = &sslPara;
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof policyStatus;
    if (!core::crypt32::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara,
                                                         &policyStatus)) {
        check.failure = static_cast<long>(GetLastError());
        return;
    }
    check.verdict = JudgeServerChain(chain.get()->TrustStatus.dwErrorStatus, static_cast<long>(policyStatus.dwError),
                                     check.checkRevocation, check.ignoreUnknownAuthority);
}

}  // namespace

TnetChainVerdict JudgeServerChain(DWORD chainErrorStatus,
                                  long policyVerdict,
                                  bool revocationChecked,
                                  bool ignoreUnknownAuthority) {
    TnetChainVerdict result;
    if (revocationChecked && (chainErrorStatus & CERT_TRUST_IS_REVOKED) != 0) {
        // Windows' policy says CRYPT_E_REVOKED, Wine's CERT_E_REVOKED: one code, one text.
        result.Verdict = static_cast<long>(CRYPT_E_REVOKED);
        return result;
    }
    if (revocationChecked) {
        result.UncheckedRevocation = core::UncheckedRevocationCode(chainErrorStatus);
        // A policy that still reports the unreachable revocation information is not refusing for it.
        if (IsUncheckedRevocationCode(policyVerdict)) {
            if (result.UncheckedRevocation == 0)
                result.UncheckedRevocation = static_cast<long>(CRYPT_E_NO_REVOCATION_CHECK);
            policyVerdict = 0;
        }
    }
    result.Verdict = policyVerdict;
    // A chain with no path to any trusted root is never trusted, whatever the policy said (Wine's
    // policy passes a lone leaf from an unknown CA).
    if (result.Verdict == 0 && (chainErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) != 0 && !ignoreUnknownAuthority)
        result.Verdict = static_cast<long>(CERT_E_CHAINING);  // 0x800B010A
    return result;
}

std::wstring UncheckedRevocationNotice(const std::wstring& server, long code) {
    return L"The certificate of " + server + L" was accepted without a revocation check: " +
           SspiErrorText(static_cast<int>(code));
}

void TnetTlsClientSspi::CheckServerCertificate() {
    SECURITY_STATUS status = SspiFunctions().QueryContextAttributesA(
        handles_.Context(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, FPeerCertificate.put());
    if (status != SEC_E_OK || !FPeerCertificate)
        RaiseSspi(status, kSspiServerCheckFailed);

    auto check = std::make_shared<TChainCheck>();
    check->certificate.reset(core::crypt32::CertDuplicateCertificateContext(FPeerCertificate.get()));
    if (!check->certificate)
        RaiseSspi(static_cast<long>(GetLastError()), kSspiServerCheckFailed);
    check->serverName = FTargetName;
    check->ignoredChecks = IgnoredChecks(FCertificateFlags);
    check->ignoreUnknownAuthority = FCertificateFlags.Has(TnetCertificateVerifyFlag::cfIgnoreUnknownAuthority);
    check->checkRevocation = !FCertificateFlags.Has(TnetCertificateVerifyFlag::cfIgnoreRevocation);
    // Building the chain may fetch missing issuers and CRLs over the network, with long time-outs.
    std::function<void()> work = [check] { RunChainCheck(*check); };
    if (FRunBlocking)
        FRunBlocking(std::move(work));
    else
        work();
    if (check->failure != 0)
        RaiseSspi(check->failure, kSspiServerCheckFailed);
    FServerVerdict = check->verdict.Verdict;
    FUncheckedRevocation = check->verdict.Verdict == 0 ? check->verdict.UncheckedRevocation : 0;
}

const SecPkgContext_StreamSizes& TnetTlsClientSspi::StreamSizes() {
    if (!FStreamSizes) {
        SecPkgContext_StreamSizes sizes{};
        SECURITY_STATUS status =
            SspiFunctions().QueryContextAttributesA(handles_.Context(), SECPKG_ATTR_STREAM_SIZES, &sizes);
        if (status != SEC_E_OK)
            RaiseSspi(status, kSspiStreamSizesFailed);
        FStreamSizes = sizes;
    }
    return *FStreamSizes;
}

size_t TnetTlsClientSspi::PacketSize() const {
    return FStreamSizes ? FStreamSizes->cbHeader + FStreamSizes->cbTrailer : 0;
}

void TnetTlsClientSspi::Encrypt(const char* data, size_t count, std::string& out) {
    const auto& sizes = StreamSizes();
    std::vector<char> block;
    while (count > 0) {
        size_t piece = std::min<size_t>(count, sizes.cbMaximumMessage);
        block.assign(sizes.cbHeader + piece + sizes.cbTrailer, 0);
        std::memcpy(block.data() + sizes.cbHeader, data, piece);
        SecBuffer buffers[4] = {
            {sizes.cbHeader, SECBUFFER_STREAM_HEADER, block.data()},
            {static_cast<unsigned long>(piece), SECBUFFER_DATA, block.data() + sizes.cbHeader},
            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, block.data() + sizes.cbHeader + piece},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status = SspiFunctions().EncryptMessage(handles_.Context(), 0, &desc, 0);
        if (status != SEC_E_OK)
            RaiseSspi(status);
        // The trailer may come back shorter than its maximum: send what was produced.
        out.append(block.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        data += piece;
        count -= piece;
    }
}

TnetSspiReturnCode TnetTlsClientSspi::Decrypt(std::string& buffer, const Sink& sink) {
    // Records are decrypted in place one after another and the bytes they took are dropped once at
    // the end: a buffer of many records costs in proportion to its size, not to its square.
    size_t used = 0;
    // A record header is 5 bytes; anything shorter cannot be a record yet.
    while (buffer.size() - used > 5) {
        const TnetSspiReturnCode result = DecryptRecord(buffer, used, sink);
        if (result != TnetSspiReturnCode::rcOK) {
            buffer.erase(0, used);
            return result;
        }
    }
    buffer.erase(0, used);
    return buffer.empty() ? TnetSspiReturnCode::rcOK : TnetSspiReturnCode::rcMoreDataNeeded;
}

TnetSspiReturnCode TnetTlsClientSspi::DecryptRecord(std::string& buffer, size_t& used, const Sink& sink) {
    const unsigned char recordType = static_cast<unsigned char>(buffer[used]);
    const size_t available = buffer.size() - used;
    SecBuffer buffers[4] = {
        {static_cast<unsigned long>(available), SECBUFFER_DATA, buffer.data() + used},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
    };
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = SspiFunctions().DecryptMessage(handles_.Context(), &desc, 0, nullptr);
    if (status == kIncompleteMessage)
        return TnetSspiReturnCode::rcMoreDataNeeded;
    if (status == kContextExpired) {
        used = buffer.size();
        return TnetSspiReturnCode::rcClosingNeeded;
    }
    if (status != SEC_E_OK && status != kRenegotiate)
        RaiseSspi(status);
    const SecBuffer* data = FindBuffer(buffers, SECBUFFER_DATA);
    const SecBuffer* extra = FindBuffer(buffers, SECBUFFER_EXTRA);
    if (data != nullptr && data->cbBuffer > 0)
        sink(static_cast<const char*>(data->pvBuffer), data->cbBuffer);
    // What the record did not take is the end of the input: the next record starts there.
    const size_t rest = extra != nullptr && extra->cbBuffer <= available ? extra->cbBuffer : 0;
    used = buffer.size() - rest;
    if (status == kRenegotiate)
        return TnetSspiReturnCode::rcReAuthNeeded;
    // Wine decrypts the close notice as success with no data: an alert record that yields no data
    // is the peer ending the session.
    if (recordType == kAlertRecord && (data == nullptr || data->cbBuffer == 0))
        return TnetSspiReturnCode::rcClosingNeeded;
    return TnetSspiReturnCode::rcOK;
}

std::string TnetTlsClientSspi::CloseNotify() {
    if (!handles_.HasContext())
        return {};
    DWORD shutdown = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    SECURITY_STATUS status = SspiFunctions().ApplyControlToken(handles_.Context(), &controlDesc);
    if (status != SEC_E_OK)
        RaiseSspi(status);
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    status = handles_.InitializeContext(targetAnsi_.c_str(), kRequestFlags, 0, nullptr, &outDesc, attributes);
    std::string token = TakeSspiBuffer(out);
    if (FAILED(status))
        RaiseSspi(status);
    return token;
}

}  // namespace memoline
