// A loopback HTTP peer with a script of canned replies per connection, for the form-post client and
// the catalogue request: it accepts connections one after another on 127.0.0.1 (port picked by the
// system), reads each request (header, then the body its Content-Length announces), records the exact
// bytes and answers from the script.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/BodyCoding.h"
#include "tests/support/CannedReply.h"

namespace memoline::test {

class CannedHttpServer {
public:
    // One list of replies per connection, in the order the connections arrive. After a connection's
    // last reply the server reads on until the client closes, recording whatever else arrives.
    explicit CannedHttpServer(std::vector<std::vector<CannedReply>> connections);
    ~CannedHttpServer();
    CannedHttpServer(const CannedHttpServer&) = delete;
    CannedHttpServer& operator=(const CannedHttpServer&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path = "/") const;
    // The requests received, per connection. Waits until the script has ended.
    std::vector<std::vector<std::string>> Requests();
    // Waits until the server has closed `count` connections in all (its side of them), at most
    // `timeoutMs`; false when they were not closed by then.
    bool WaitForClosedConnections(size_t count, unsigned timeoutMs = 10000);

private:
    void Run(std::vector<std::vector<CannedReply>> connections);

    std::atomic<bool> stop_{false};
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread thread_;
    std::mutex lock_;
    std::vector<std::vector<std::string>> requests_;
    size_t closedConnections_ = 0;
    std::condition_variable closed_;
};

}  // namespace memoline::test
