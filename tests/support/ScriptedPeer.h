// A scripted TCP peer for the transport's, the form-post client's and the check's tests: a listener
// on 127.0.0.1 with a port the system picks, and a thread that accepts one connection and runs the
// test's script on it. The listener closes once that connection is taken, so a second connection is
// refused at once instead of waiting.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/LoopbackSocket.h"

namespace memoline::test {

class ScriptedPeer {
public:
    using Script = std::function<void(SOCKET connection)>;
    explicit ScriptedPeer(Script script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int Port() const { return port_; }
    // Waits until the script has ended (the connection is closed by then).
    void Join();

    static void SendAll(SOCKET s, const std::string& bytes);
    // Reads until the peer closes its sending side or `limit` bytes have arrived.
    static std::string ReceiveUntilClose(SOCKET s, size_t limit = SIZE_MAX);
    static std::string ReceiveExactly(SOCKET s, size_t count);

private:
    void CloseListener();

    std::atomic<SOCKET> listener_{INVALID_SOCKET};
    int port_ = 0;
    std::thread thread_;
};

}  // namespace memoline::test
