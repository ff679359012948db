#include "tests/http/ScriptedPeer.h"

#include <ws2tcpip.h>

#include <gtest/gtest.h>

namespace memoline::test {
namespace {

struct WinsockStarted {
    WinsockStarted() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};

SOCKET BoundLoopbackListener(int* port) {
    static WinsockStarted started;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the system picks the port
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return s;
}

}  // namespace

ScriptedPeer::ScriptedPeer(Script script) {
    listener_ = BoundLoopbackListener(&port_);
    listen(listener_, 1);
    thread_ = std::thread([this, script = std::move(script)] {
        SOCKET connection = accept(listener_, nullptr, nullptr);
        if (connection == INVALID_SOCKET)
            return;  // the listener was closed: the client never came
        script(connection);
        closesocket(connection);
    });
}

ScriptedPeer::~ScriptedPeer() {
    closesocket(listener_);
    Join();
}

void ScriptedPeer::Join() {
    if (thread_.joinable())
        thread_.join();
}

void ScriptedPeer::SendAll(SOCKET s, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

std::string ScriptedPeer::ReceiveUntilClose(SOCKET s, size_t limit) {
    std::string result;
    char buffer[4096];
    while (result.size() < limit) {
        int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        result.append(buffer, static_cast<size_t>(n));
    }
    return result;
}

std::string ScriptedPeer::ReceiveExactly(SOCKET s, size_t count) {
    std::string result;
    char buffer[4096];
    while (result.size() < count) {
        int n = recv(s, buffer, static_cast<int>(std::min(sizeof buffer, count - result.size())), 0);
        if (n <= 0)
            break;
        result.append(buffer, static_cast<size_t>(n));
    }
    return result;
}

int UnusedLoopbackPort() {
    int port = 0;
    SOCKET s = BoundLoopbackListener(&port);
    closesocket(s);
    return port;
}

}  // namespace memoline::test
