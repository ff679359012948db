// Windows Sockets 2.2, loaded by name once per process, and the texts of socket errors.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "core/Handles.h"

namespace memoline {

// The socket functions the transport uses, taken from ws2_32.dll. The library is loaded and
// started (WSAStartup 2.2) at the first Get(), under a process-wide lock, and stays loaded.
struct TnetSocketApi {
    decltype(&::WSAStartup) WSAStartup;
    decltype(&::WSAGetLastError) WSAGetLastError;
    decltype(&::socket) socket;
    decltype(&::closesocket) closesocket;
    decltype(&::connect) connect;
    decltype(&::send) send;
    decltype(&::recv) recv;
    decltype(&::WSAEventSelect) WSAEventSelect;
    decltype(&::WSAEnumNetworkEvents) WSAEnumNetworkEvents;
    decltype(&::getaddrinfo) getaddrinfo;
    decltype(&::freeaddrinfo) freeaddrinfo;
    decltype(&::inet_pton) inet_pton;
    decltype(&::inet_ntop) inet_ntop;
    decltype(&::getsockname) getsockname;
    decltype(&::ntohs) ntohs;
    decltype(&::htons) htons;

    // Throws EnetSocketError when the library cannot be loaded or started.
    static const TnetSocketApi& Get();
};

namespace handle_traits {
// Closed through the loaded library: the program imports nothing from ws2_32.dll. A socket exists
// only after TnetSocketApi::Get() has succeeded, so the close never loads anything.
struct socket {
    using pointer = SOCKET;
    static pointer invalid() { return INVALID_SOCKET; }
    static void close(pointer s) { TnetSocketApi::Get().closesocket(s); }
};
}  // namespace handle_traits

using unique_socket = unique_any<handle_traits::socket>;

// The system's text for a socket (or Win32) error code, trimmed; for the codes the system has no
// text for (Wine lacks several), the text Windows gives.
std::wstring SocketErrorText(int code);

// Throws EnetSocketError(code, SocketErrorText(code)).
[[noreturn]] void RaiseSocketError(int code);

}  // namespace memoline
