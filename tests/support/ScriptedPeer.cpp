#include "tests/support/ScriptedPeer.h"

#include <algorithm>

#include "tests/support/LoopbackSocket.h"

namespace memoline::test {

ScriptedPeer::ScriptedPeer(Script script) {
    listener_ = LoopbackListener(1, &port_);
    thread_ = std::thread([this, script = std::move(script)] {
        SOCKET connection = accept(listener_, nullptr, nullptr);
        CloseListener();
        if (connection == INVALID_SOCKET)
            return;  // the listener was closed: the client never came
        script(connection);
        closesocket(connection);
    });
}

ScriptedPeer::~ScriptedPeer() {
    CloseListener();
    Join();
}

void ScriptedPeer::CloseListener() {
    const SOCKET listener = listener_.exchange(INVALID_SOCKET);
    if (listener != INVALID_SOCKET)
        closesocket(listener);
}

void ScriptedPeer::Join() {
    if (thread_.joinable())
        thread_.join();
}

void ScriptedPeer::SendAll(SOCKET s, const std::string& bytes) {
    test::SendAll(s, bytes);
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

}  // namespace memoline::test
