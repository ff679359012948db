#include "http/NetSocketApi.h"

#include <windows.h>

#include <mutex>

#include "core/ErrorText.h"
#include "core/LazyLibrary.h"
#include "http/NetErrors.h"

namespace memoline {
namespace {

// Windows' own texts, for codes whose text the running system may not have.
constexpr TErrorText kFallbackTexts[] = {
    {10035, L"A non-blocking socket operation could not be completed immediately."},
    {10038, L"An operation was attempted on something that is not a socket."},
    {10053, L"An established connection was aborted by the software in your host machine."},
    {10054, L"An existing connection was forcibly closed by the remote host."},
    {10060,
     L"A connection attempt failed because the connected party did not properly respond after a period "
     L"of time, or established connection failed because connected host has failed to respond."},
    {10061, L"No connection could be made because the target machine actively refused it."},
    {11001, L"No such host is known."},
    {11002,
     L"This is usually a temporary error during hostname resolution and means that the local server did "
     L"not receive a response from an authoritative server."},
    {11003, L"A non-recoverable error occurred during a database lookup."},
    {11004, L"The requested name is valid, but no data of the requested type was found."},
};

template <typename T>
void Load(HMODULE module, const char* name, T& slot, bool& ok) {
    slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    ok = ok && slot != nullptr;
}

}  // namespace

std::wstring SocketErrorText(int code) {
    std::wstring text = ErrorText(code, kFallbackTexts);
    return text.empty() ? L"Socket error " + std::to_wstring(code) : text;
}

void RaiseSocketError(int code) {
    throw EnetSocketError(SocketErrorText(code), code);
}

const TnetSocketApi& TnetSocketApi::Get() {
    static std::mutex lock;
    static TnetSocketApi api;
    static bool loaded = false;
    std::lock_guard<std::mutex> guard(lock);
    if (loaded)
        return api;
    // Loaded by name so the program carries no import of the socket library it may never use.
    HMODULE module = core::LoadSystemLibrary(L"ws2_32.dll");
    if (module == nullptr)
        RaiseSocketError(static_cast<int>(GetLastError()));
    bool ok = true;
    Load(module, "WSAStartup", api.WSAStartup, ok);
    Load(module, "WSAGetLastError", api.WSAGetLastError, ok);
    Load(module, "socket", api.socket, ok);
    Load(module, "closesocket", api.closesocket, ok);
    Load(module, "connect", api.connect, ok);
    Load(module, "send", api.send, ok);
    Load(module, "recv", api.recv, ok);
    Load(module, "WSAEventSelect", api.WSAEventSelect, ok);
    Load(module, "WSAEnumNetworkEvents", api.WSAEnumNetworkEvents, ok);
    Load(module, "getaddrinfo", api.getaddrinfo, ok);
    Load(module, "freeaddrinfo", api.freeaddrinfo, ok);
    Load(module, "inet_pton", api.inet_pton, ok);
    Load(module, "inet_ntop", api.inet_ntop, ok);
    Load(module, "getsockname", api.getsockname, ok);
    Load(module, "ntohs", api.ntohs, ok);
    Load(module, "htons", api.htons, ok);
    if (!ok) {
        DWORD error = GetLastError();
        FreeLibrary(module);
        RaiseSocketError(static_cast<int>(error));
    }
    WSADATA data{};
    int status = api.WSAStartup(MAKEWORD(2, 2), &data);
    if (status != 0) {
        FreeLibrary(module);
        RaiseSocketError(status);
    }
    // The library stays started for the life of the process: sockets may outlive any one client.
    loaded = true;
    return api;
}

}  // namespace memoline
