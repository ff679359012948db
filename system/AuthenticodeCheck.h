// The check a downloaded program must pass before it is started: an Authenticode signature whose
// digest matches the file, from a signing certificate whose chain ends in a root this machine trusts,
// issued to the expected publisher.
#pragma once

#include <windows.h>

#include <string>

namespace memoline {

// The outcome of one check, first failure wins in this order.
enum class TSignatureVerdict {
    svVerified,        // signed by the expected publisher, unchanged, through a trusted root
    svNotSigned,       // no Authenticode signature (or not a signable program file at all)
    svChanged,         // the file's digest differs from the signed one
    svNotTrusted,      // the signing certificate, or its chain, is not trusted
    svOtherPublisher,  // a trusted signature of another publisher
    svNotChecked,      // the check itself failed (the file could not be read, the system refused)
};

struct TSignatureCheck {
    TSignatureVerdict Verdict = TSignatureVerdict::svNotChecked;
    // What the system said, for the operator and for a log line.
    LONG TrustStatus = 0;        // WinVerifyTrust's result
    DWORD ChainErrorStatus = 0;  // the signer chain's TrustStatus.dwErrorStatus (0 when no chain was built)
    LONG ChainStatus = 0;        // the chain's verdict as an error code (CERT_E_...), 0 when trusted
    std::wstring Signer;         // simple display name of the signing certificate, when one was found
    std::wstring StatusText;     // the system's text for the failing code, empty on success
    // Why the signer chain's revocation could not be checked (CRYPT_E_REVOCATION_OFFLINE,
    // CRYPT_E_NO_REVOCATION_CHECK), 0 when it was: such a chain is not refused for it.
    LONG UncheckedRevocation = 0;

    bool Passed() const { return Verdict == TSignatureVerdict::svVerified; }
};

// Checks the file `file` (opened for reading; named `path`) as described above. `expectedSigner` is
// compared with the signing certificate's simple display name, exactly. Raises nothing.
// Revocation is checked on the signer's chain (every certificate but the root): a revoked one is
// refused (CRYPT_E_REVOKED); revocation information that cannot be reached is not a refusal, as
// with the TLS channel, and shows in UncheckedRevocation.
TSignatureCheck VerifyAuthenticode(HANDLE file, const std::wstring& path, const std::wstring& expectedSigner);

// The same check on a worker thread while this thread handles its messages: WinVerifyTrust and the
// signer's chain may fetch certificates and their issuers over the network, with long time-outs. A
// quit request meanwhile is held back until the verdict is in.
TSignatureCheck VerifyAuthenticodeOffThread(HANDLE file, const std::wstring& path, const std::wstring& expectedSigner);

// The system's text for a trust or certificate error code, without its trailing line break; a fixed
// English text where the system has none (Wine has none for the CERT_E_ and TRUST_E_ codes).
std::wstring TrustErrorText(LONG code);

}  // namespace memoline
