#include "core/Crypt32.h"

#include "core/LazyLibrary.h"

namespace memoline::core::crypt32 {
namespace {

TLazyLibrary& Library() {
    // Never freed: a connection's worker may still be inside the library while the process ends.
    static TLazyLibrary* library = new TLazyLibrary(L"crypt32.dll");
    return *library;
}

}  // namespace

BOOL CertGetCertificateChain(HCERTCHAINENGINE engine,
                             PCCERT_CONTEXT certificate,
                             FILETIME* time,
                             HCERTSTORE additionalStore,
                             CERT_CHAIN_PARA* para,
                             DWORD flags,
                             void* reserved,
                             PCCERT_CHAIN_CONTEXT* chain) {
    static const TLazyFunction<decltype(&::CertGetCertificateChain)> fn(Library(), "CertGetCertificateChain");
    return fn.CallOr(FALSE, engine, certificate, time, additionalStore, para, flags, reserved, chain);
}

BOOL CertVerifyCertificateChainPolicy(const char* policy,
                                      PCCERT_CHAIN_CONTEXT chain,
                                      CERT_CHAIN_POLICY_PARA* para,
                                      CERT_CHAIN_POLICY_STATUS* status) {
    static const TLazyFunction<decltype(&::CertVerifyCertificateChainPolicy)> fn(Library(),
                                                                                 "CertVerifyCertificateChainPolicy");
    return fn.CallOr(FALSE, policy, chain, para, status);
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain) {
    static const TLazyFunction<decltype(&::CertFreeCertificateChain)> fn(Library(), "CertFreeCertificateChain");
    fn.CallIfFound(chain);
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate) {
    static const TLazyFunction<decltype(&::CertFreeCertificateContext)> fn(Library(), "CertFreeCertificateContext");
    return fn.CallOr(FALSE, certificate);
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT certificate) {
    static const TLazyFunction<decltype(&::CertDuplicateCertificateContext)> fn(Library(),
                                                                                "CertDuplicateCertificateContext");
    return fn.CallOr(PCCERT_CONTEXT{}, certificate);
}

DWORD CertGetNameStringW(PCCERT_CONTEXT certificate,
                         DWORD type,
                         DWORD flags,
                         void* typePara,
                         wchar_t* name,
                         DWORD nameLength) {
    static const TLazyFunction<decltype(&::CertGetNameStringW)> fn(Library(), "CertGetNameStringW");
    return fn.CallOr(DWORD{0}, certificate, type, flags, typePara, name, nameLength);
}

}  // namespace memoline::core::crypt32
