// The security support provider interface, reached one way by the secure channel and by the answers
// to 401 challenges: its function table loaded by name once per process, and the credential and
// context handles of one conversation, released through that table.
#pragma once

#define SECURITY_WIN32
#include <windows.h>

#include <security.h>

#include <string>

namespace memoline {

// The provider's function table, loaded at the first call from the first of "security.dll",
// "schannel.dll" and "secur32.dll" that loads; the library then stays loaded. Loaded by name so the
// program carries no import that would set up every security package at each start.
// Throws EnetSSPIError (-1 no library, -2 no "InitSecurityInterfaceA", -3 no table).
const SecurityFunctionTableA& SspiFunctions();

// Takes a provider-allocated output buffer into a string and frees it.
std::string TakeSspiBuffer(SecBuffer& buffer);

// The credentials and the security context of one conversation. Either may be absent; what is held
// is released when the pair is destroyed or reset.
class TnetSspiHandles {
public:
    TnetSspiHandles();
    ~TnetSspiHandles();
    TnetSspiHandles(const TnetSspiHandles&) = delete;
    TnetSspiHandles& operator=(const TnetSspiHandles&) = delete;

    // Frees any credentials held, then acquires outbound credentials of `package` with the package's
    // `authData` (a channel credential record, a logon identity, or null for the logged-on user).
    // Returns the provider's status. Throws EnetSSPIError when the library cannot be loaded.
    SECURITY_STATUS AcquireCredentials(const char* package, void* authData);

    // One InitializeSecurityContextA call on these handles: the first one makes the context (held
    // from then on unless the call failed), later ones continue it. Returns the provider's status.
    SECURITY_STATUS InitializeContext(const char* target,
                                      ULONG requestFlags,
                                      ULONG dataRepresentation,
                                      SecBufferDesc* input,
                                      SecBufferDesc* output,
                                      ULONG& attributes);

    bool HasCredentials() const { return SecIsValidHandle(&credentials_); }
    bool HasContext() const { return SecIsValidHandle(&context_); }
    // The context for the per-message calls; null when there is none, which the provider refuses
    // (an invalidated handle it might follow instead).
    CtxtHandle* Context() { return HasContext() ? &context_ : nullptr; }

    // Deletes the context and frees the credentials.
    void Reset();

private:
    CredHandle credentials_;
    CtxtHandle context_;
};

}  // namespace memoline
