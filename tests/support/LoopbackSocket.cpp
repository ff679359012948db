#include "tests/support/LoopbackSocket.h"

#include <ws2tcpip.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace memoline::test {
namespace {

// Started on first use and left running until the test program ends.
struct WinsockStarted {
    WinsockStarted() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("WSAStartup failed");
    }
};

SOCKET BoundLoopbackSocket(int* port) {
    static WinsockStarted started;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        throw std::runtime_error("no socket for a loopback peer");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the system picks the port
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(s);
        throw std::runtime_error("a loopback peer cannot bind");
    }
    *port = ntohs(address.sin_port);
    return s;
}

size_t ContentLength(const std::string& header) {
    std::string lower;
    for (char c : header)
        lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return static_cast<size_t>(strtoul(header.c_str() + at + 17, nullptr, 10));
}

}  // namespace

std::string ReceiveRequest(SOCKET s, std::string& buffer, bool& closed) {
    char chunk[4096];
    while (true) {
        const size_t end = buffer.find("\r\n\r\n");
        if (end != std::string::npos) {
            const size_t total = end + 4 + ContentLength(buffer.substr(0, end + 2));
            if (buffer.size() >= total) {
                std::string request = buffer.substr(0, total);
                buffer.erase(0, total);
                return request;
            }
        }
        const int n = recv(s, chunk, sizeof chunk, 0);
        if (n <= 0) {
            closed = true;
            return {};
        }
        buffer.append(chunk, static_cast<size_t>(n));
    }
}

SOCKET LoopbackListener(int backlog, int* port) {
    SOCKET s = BoundLoopbackSocket(port);
    if (listen(s, backlog) != 0) {
        closesocket(s);
        throw std::runtime_error("a loopback peer cannot listen");
    }
    return s;
}

bool SendAll(SOCKET s, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool SendReply(SOCKET s, const CannedReply& reply, const std::atomic<bool>& stop) {
    if (!SendAll(s, reply.head))
        return false;
    const size_t piece = reply.pieceSize ? reply.pieceSize : reply.body.size();
    for (size_t offset = 0; offset < reply.body.size(); offset += piece) {
        if (stop)
            return false;
        if (offset > 0 && reply.pieceDelayMs > 0)
            Sleep(static_cast<DWORD>(reply.pieceDelayMs));  // a slow server is what such a reply asks for
        if (!SendAll(s, reply.body.substr(offset, piece)))
            return false;
    }
    return true;
}

int UnusedLoopbackPort() {
    int port = 0;
    closesocket(BoundLoopbackSocket(&port));
    return port;
}

}  // namespace memoline::test
