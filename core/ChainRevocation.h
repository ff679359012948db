// Why a certificate chain built with revocation checking could not have it checked, read from the
// chain's error status. The TLS server check and the setup signer's check share the rule: such a
// chain is not refused for it, but the reason is kept for the support log.
#pragma once

#include <windows.h>

#include <wincrypt.h>

namespace memoline::core {

// CRYPT_E_REVOCATION_OFFLINE or CRYPT_E_NO_REVOCATION_CHECK for the status's revocation bits, else 0.
inline long UncheckedRevocationCode(DWORD chainErrorStatus) {
    if ((chainErrorStatus & CERT_TRUST_IS_OFFLINE_REVOCATION) != 0)
        return static_cast<long>(CRYPT_E_REVOCATION_OFFLINE);
    if ((chainErrorStatus & CERT_TRUST_REVOCATION_STATUS_UNKNOWN) != 0)
        return static_cast<long>(CRYPT_E_NO_REVOCATION_CHECK);
    return 0;
}

}  // namespace memoline::core
