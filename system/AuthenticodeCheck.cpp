#include "system/AuthenticodeCheck.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <iterator>
#include <memory>

#include "core/ChainRevocation.h"
#include "core/Crypt32.h"
#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/LazyLibrary.h"
#include "core/WorkerCall.h"

namespace memoline {
namespace {

// wintrust.dll, loaded on first use: only a setup program's signature needs it, never the start-up.
namespace wintrust {

core::TLazyLibrary& Library() {
    static core::TLazyLibrary* library = new core::TLazyLibrary(L"wintrust.dll");  // for the process's life
    return *library;
}

LONG WinVerifyTrust(HWND window, GUID* action, void* data) {
    static const core::TLazyFunction<decltype(&::WinVerifyTrust)> fn(Library(), "WinVerifyTrust");
    return fn.CallOr(static_cast<LONG>(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)), window, action, data);
}

CRYPT_PROVIDER_DATA* WTHelperProvDataFromStateData(HANDLE state) {
    static const core::TLazyFunction<decltype(&::WTHelperProvDataFromStateData)> fn(Library(),
                                                                                    "WTHelperProvDataFromStateData");
    return fn.CallOr(static_cast<CRYPT_PROVIDER_DATA*>(nullptr), state);
}

CRYPT_PROVIDER_SGNR* WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* provider,
                                                    DWORD signer,
                                                    BOOL counterSigner,
                                                    DWORD counterSignerIndex) {
    static const core::TLazyFunction<decltype(&::WTHelperGetProvSignerFromChain)> fn(Library(),
                                                                                     "WTHelperGetProvSignerFromChain");
    return fn.CallOr(static_cast<CRYPT_PROVIDER_SGNR*>(nullptr), provider, signer, counterSigner, counterSignerIndex);
}

}  // namespace wintrust

// Texts for the codes this check reports, used where the system has none of its own.
const TErrorText kErrorTexts[] = {
    {static_cast<LONG>(TRUST_E_NOSIGNATURE), L"No signature was present in the subject."},
    {static_cast<LONG>(TRUST_E_SUBJECT_FORM_UNKNOWN),
     L"The form specified for the subject is not one supported or "
     L"known by the specified trust provider."},
    {static_cast<LONG>(TRUST_E_BAD_DIGEST), L"The digital signature of the object did not verify."},
    {static_cast<LONG>(TRUST_E_CERT_SIGNATURE), L"The signature of the certificate cannot be verified."},
    {static_cast<LONG>(TRUST_E_BASIC_CONSTRAINTS),
     L"The basic constraint extension of a certificate has not been "
     L"observed."},
    {static_cast<LONG>(TRUST_E_EXPLICIT_DISTRUST),
     L"The certificate was explicitly marked as untrusted by the "
     L"user."},
    {static_cast<LONG>(TRUST_E_FAIL), L"Generic trust failure."},
    {static_cast<LONG>(CERT_E_EXPIRED),
     L"A required certificate is not within its validity period when verifying "
     L"against the current system clock or the timestamp in the signed file."},
    {static_cast<LONG>(CERT_E_VALIDITYPERIODNESTING),
     L"The validity periods of the certification chain do not nest "
     L"correctly."},
    {static_cast<LONG>(CERT_E_CRITICAL), L"A certificate contains an unknown extension that is marked 'critical'."},
    {static_cast<LONG>(CERT_E_UNTRUSTEDROOT),
     L"A certificate chain processed, but terminated in a root certificate "
     L"which is not trusted by the trust provider."},
    {static_cast<LONG>(CERT_E_CHAINING), L"A certificate chain could not be built to a trusted root authority."},
    {static_cast<LONG>(CERT_E_WRONG_USAGE), L"The certificate is not valid for the requested usage."},
    {static_cast<LONG>(CRYPT_E_REVOKED), L"The certificate is revoked."},
    {static_cast<LONG>(CRYPT_E_NO_REVOCATION_CHECK),
     L"The revocation function was unable to check revocation for the certificate."},
    {static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE),
     L"The revocation function was unable to check revocation because the revocation server was offline."},
};

// Chain faults that say only that revocation could not be checked: not a refusal (see the header).
constexpr DWORD kUncheckedRevocationBits = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// The error code for the first fault of a chain's error status, most telling first.
LONG ChainErrorCode(DWORD errorStatus) {
    const struct {
        DWORD bit;
        HRESULT code;
    } kFaults[] = {
        {CERT_TRUST_IS_EXPLICIT_DISTRUST, TRUST_E_EXPLICIT_DISTRUST},
        {CERT_TRUST_IS_REVOKED, CRYPT_E_REVOKED},
        {CERT_TRUST_IS_NOT_SIGNATURE_VALID, TRUST_E_CERT_SIGNATURE},
        {CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_E_UNTRUSTEDROOT},
        {CERT_TRUST_IS_PARTIAL_CHAIN, CERT_E_CHAINING},
        {CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED},
        {CERT_TRUST_IS_NOT_TIME_NESTED, CERT_E_VALIDITYPERIODNESTING},
        {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_E_WRONG_USAGE},
        {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, TRUST_E_BASIC_CONSTRAINTS},
        {CERT_TRUST_INVALID_EXTENSION, CERT_E_CRITICAL},
    };
    for (const auto& fault : kFaults) {
        if (errorStatus & fault.bit)
            return static_cast<LONG>(fault.code);
    }
    return errorStatus != 0 ? static_cast<LONG>(TRUST_E_FAIL) : 0;
}

TSignatureVerdict VerdictOfTrustStatus(LONG status) {
    switch (static_cast<HRESULT>(status)) {
        case TRUST_E_NOSIGNATURE:
        case TRUST_E_SUBJECT_FORM_UNKNOWN:  // not a program file Authenticode knows: carries no signature
            return TSignatureVerdict::svNotSigned;
        case TRUST_E_BAD_DIGEST:
        case CRYPT_E_HASH_VALUE:
            return TSignatureVerdict::svChanged;
        case TRUST_E_CERT_SIGNATURE:
        case TRUST_E_BASIC_CONSTRAINTS:
        case TRUST_E_EXPLICIT_DISTRUST:
        case CRYPT_E_REVOKED:
            return TSignatureVerdict::svNotTrusted;
        default:
            break;
    }
    // CERT_E_EXPIRED, CERT_E_UNTRUSTEDROOT, CERT_E_CHAINING and the rest of the certificate family.
    const DWORD code = static_cast<DWORD>(status);
    if (code >= 0x800B0101 && code <= 0x800B01FF)
        return TSignatureVerdict::svNotTrusted;
    return TSignatureVerdict::svNotChecked;
}

std::wstring SimpleDisplayName(PCCERT_CONTEXT certificate) {
    DWORD size = core::crypt32::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (size <= 1)
        return {};
    std::wstring name(size, L'\0');
    core::crypt32::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), size);
    name.resize(size - 1);
    return name;
}

// The chain of the signing certificate, built anew: under Wine WinVerifyTrust accepts a signature
// from a CA that is not trusted at all, so its verdict alone does not say the signer is trusted.
// Revocation is judged here too, for every certificate but the root. Returns the chain's verdict as
// an error code, 0 when it ends in a trusted root with no fault; `errorStatus` gets the chain's
// faults and `uncheckedRevocation` why revocation could not be checked.
LONG CheckSignerChain(PCCERT_CONTEXT certificate, const FILETIME* at, DWORD& errorStatus, LONG& uncheckedRevocation) {
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    // The certificate's own store holds the certificates the signature carries, so intermediate CAs
    // are found there. Fetching their CRLs may wait on the network: this runs off the UI thread.
    if (!core::crypt32::CertGetCertificateChain(nullptr, certificate, const_cast<FILETIME*>(at),
                                                certificate->hCertStore, &para,
                                                CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, nullptr, &chain))
        return static_cast<LONG>(HRESULT_FROM_WIN32(GetLastError()));
    errorStatus = chain->TrustStatus.dwErrorStatus;
    uncheckedRevocation = core::UncheckedRevocationCode(errorStatus);

    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof policyStatus;
    LONG verdict = 0;
    if (!core::crypt32::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain, &policyPara, &policyStatus))
        verdict = static_cast<LONG>(HRESULT_FROM_WIN32(GetLastError()));
    else
        verdict = static_cast<LONG>(policyStatus.dwError);
    core::crypt32::CertFreeCertificateChain(chain);
    // Any fault of the chain but unreachable revocation information fails it, whatever the policy
    // said: a partial chain (no path to any root) and a revoked signer pass Wine's policy.
    if (verdict == static_cast<LONG>(CRYPT_E_NO_REVOCATION_CHECK) ||
        verdict == static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE))
        verdict = 0;
    const LONG fault = ChainErrorCode(errorStatus & ~kUncheckedRevocationBits);
    if (verdict == 0 || fault == static_cast<LONG>(CRYPT_E_REVOKED))
        verdict = fault;
    return verdict;
}

// Closes the trust provider's state of one verification.
class TrustState {
public:
    TrustState(GUID action, WINTRUST_DATA& data) : action_(action), data_(data) {}
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;
    ~TrustState() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        wintrust::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }

private:
    GUID action_;
    WINTRUST_DATA& data_;
};

}  // namespace

std::wstring TrustErrorText(LONG code) {
    std::wstring text = ErrorText(code, kErrorTexts);
    if (!text.empty())
        return text;
    wchar_t hex[16];
    swprintf(hex, std::size(hex), L"0x%08lX", static_cast<unsigned long>(code));
    return std::wstring(L"Error ") + hex + L".";
}

TSignatureCheck VerifyAuthenticode(HANDLE file, const std::wstring& path, const std::wstring& expectedSigner) {
    TSignatureCheck check;
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    // Revocation is judged on the signer's chain below, with the one rule for unreachable CRLs.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;  // keep the provider's data for the signer
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    check.TrustStatus = wintrust::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    TrustState state(action, data);

    auto fail = [&check](TSignatureVerdict verdict, LONG code) {
        check.Verdict = verdict;
        check.StatusText = TrustErrorText(code);
        return check;
    };
    if (check.TrustStatus != 0)
        return fail(VerdictOfTrustStatus(check.TrustStatus), check.TrustStatus);

    CRYPT_PROVIDER_DATA* provider = wintrust::WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider ? wintrust::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
        signer->pasCertChain[0].pCert == nullptr)
        return fail(TSignatureVerdict::svNotSigned, static_cast<LONG>(TRUST_E_NOSIGNATURE));
    PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
    check.Signer = SimpleDisplayName(certificate);

    // The chain is judged at the time the provider verified the signature for: a timestamp's time
    // when the signature carries one, else now.
    const FILETIME& asOf = signer->sftVerifyAsOf;
    const bool haveTime = asOf.dwLowDateTime != 0 || asOf.dwHighDateTime != 0;
    check.ChainStatus =
        CheckSignerChain(certificate, haveTime ? &asOf : nullptr, check.ChainErrorStatus, check.UncheckedRevocation);
    if (check.ChainStatus != 0)
        return fail(TSignatureVerdict::svNotTrusted, check.ChainStatus);

    check.Verdict =
        check.Signer == expectedSigner ? TSignatureVerdict::svVerified : TSignatureVerdict::svOtherPublisher;
    return check;
}

TSignatureCheck VerifyAuthenticodeOffThread(HANDLE file, const std::wstring& path, const std::wstring& expectedSigner) {
    // The worker holds a handle of its own on the file and copies of the texts.
    struct TCall {
        unique_handle file;
        std::wstring path;
        std::wstring signer;
        TSignatureCheck result;
    };
    auto call = std::make_shared<TCall>();
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        TSignatureCheck failed;
        failed.TrustStatus = static_cast<LONG>(HRESULT_FROM_WIN32(GetLastError()));
        failed.StatusText = TrustErrorText(failed.TrustStatus);
        return failed;
    }
    call->file.reset(copy);
    call->path = path;
    call->signer = expectedSigner;
    core::TWorkerWait wait;
    // The verdict decides whether a program starts: the check is never given up half-way.
    wait.quitPolicy = core::TQuitPolicy::HoldUntilWaitEnds;
    core::RunOnWorker([call] { call->result = VerifyAuthenticode(call->file.get(), call->path, call->signer); }, wait);
    return call->result;
}

}  // namespace memoline
