#include "http/NetSspiApi.h"

#include <mutex>

#include "core/LazyLibrary.h"
#include "http/NetErrors.h"
#include "http/NetSspi.h"

namespace memoline {
namespace {

[[noreturn]] void RaiseLoadFailure(int code) {
    throw EnetSSPIError(SspiErrorText(code), code);
}

}  // namespace

const SecurityFunctionTableA& SspiFunctions() {
    static std::mutex lock;
    static const SecurityFunctionTableA* table = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (table != nullptr)
        return *table;
    // secur32.dll is on every Windows this runs on and holds the whole table; the older names need not be tried.
    HMODULE module = core::LoadSystemLibrary(L"secur32.dll");
    if (module == nullptr)
        RaiseLoadFailure(kSspiNoLibrary);
    auto init = reinterpret_cast<INIT_SECURITY_INTERFACE_A>(
        reinterpret_cast<void*>(GetProcAddress(module, "InitSecurityInterfaceA")));
    if (init == nullptr)
        RaiseLoadFailure(kSspiNoInitRoutine);
    table = init();
    if (table == nullptr)
        RaiseLoadFailure(kSspiNoFunctionTable);
    // The library stays loaded: the table points into it.
    return *table;
}

std::string TakeSspiBuffer(SecBuffer& buffer) {
    std::string bytes;
    if (buffer.pvBuffer != nullptr) {
        bytes.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
        SspiFunctions().FreeContextBuffer(buffer.pvBuffer);
        buffer.pvBuffer = nullptr;
    }
    return bytes;
}

TnetSspiHandles::TnetSspiHandles() {
    SecInvalidateHandle(&credentials_);
    SecInvalidateHandle(&context_);
}

TnetSspiHandles::~TnetSspiHandles() {
    Reset();
}

void TnetSspiHandles::Reset() {
    // Handles exist only once the table has been loaded, so this never loads anything.
    if (HasContext())
        SspiFunctions().DeleteSecurityContext(&context_);
    if (HasCredentials())
        SspiFunctions().FreeCredentialsHandle(&credentials_);
    SecInvalidateHandle(&credentials_);
    SecInvalidateHandle(&context_);
}

SECURITY_STATUS TnetSspiHandles::AcquireCredentials(const char* package, void* authData) {
    const auto& sspi = SspiFunctions();
    if (HasCredentials()) {
        sspi.FreeCredentialsHandle(&credentials_);
        SecInvalidateHandle(&credentials_);
    }
    CredHandle acquired;
    TimeStamp expiry;
    const SECURITY_STATUS status =
        sspi.AcquireCredentialsHandleA(nullptr, const_cast<char*>(package), SECPKG_CRED_OUTBOUND, nullptr, authData,
                                       nullptr, nullptr, &acquired, &expiry);
    if (status == SEC_E_OK)
        credentials_ = acquired;
    return status;
}

SECURITY_STATUS TnetSspiHandles::InitializeContext(const char* target,
                                                   ULONG requestFlags,
                                                   ULONG dataRepresentation,
                                                   SecBufferDesc* input,
                                                   SecBufferDesc* output,
                                                   ULONG& attributes) {
    const auto& sspi = SspiFunctions();
    TimeStamp expiry;
    char* targetName = const_cast<char*>(target);
    // A later call continues the context in place: the new handle may be the one passed in.
    if (HasContext()) {
        return sspi.InitializeSecurityContextA(&credentials_, &context_, targetName, requestFlags, 0,
                                               dataRepresentation, input, 0, &context_, output, &attributes, &expiry);
    }
    CtxtHandle made;
    const SECURITY_STATUS status =
        sspi.InitializeSecurityContextA(&credentials_, nullptr, targetName, requestFlags, 0, dataRepresentation, input,
                                        0, &made, output, &attributes, &expiry);
    if (!FAILED(status))
        context_ = made;
    return status;
}

}  // namespace memoline
