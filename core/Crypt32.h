// The certificate functions the program uses, from crypt32.dll loaded on first use (see
// LazyLibrary.h): only a secure connection's check and a setup program's signature need them. Same
// parameters and results as the system's own; when the DLL cannot be loaded each fails with
// ERROR_PROC_NOT_FOUND.
#pragma once

#include <windows.h>

#include <wincrypt.h>

namespace memoline::core::crypt32 {

BOOL CertGetCertificateChain(HCERTCHAINENGINE engine,
                             PCCERT_CONTEXT certificate,
                             FILETIME* time,
                             HCERTSTORE additionalStore,
                             CERT_CHAIN_PARA* para,
                             DWORD flags,
                             void* reserved,
                             PCCERT_CHAIN_CONTEXT* chain);
BOOL CertVerifyCertificateChainPolicy(const char* policy,
                                      PCCERT_CHAIN_CONTEXT chain,
                                      CERT_CHAIN_POLICY_PARA* para,
                                      CERT_CHAIN_POLICY_STATUS* status);
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT certificate);
DWORD CertGetNameStringW(PCCERT_CONTEXT certificate,
                         DWORD type,
                         DWORD flags,
                         void* typePara,
                         wchar_t* name,
                         DWORD nameLength);

}  // namespace memoline::core::crypt32
