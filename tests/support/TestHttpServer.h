// A loopback HTTP peer for the download engine's, the install's and the proxy's tests: canned raw
// replies by path, served from threads of the test process on 127.0.0.1 with a port the system picks,
// any number of connections at once. Records the exact request heads it got.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/CannedReply.h"

namespace memoline::test {

class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Requests for a path not routed get a 404.
    void Route(const std::string& path, CannedReply reply);
    // Requests for the path are answered by `handler`, given the request head (called on a server
    // thread, one request at a time).
    void RouteHandler(const std::string& path, std::function<CannedReply(const std::string& head)> handler);
    int Port() const { return port_; }
    std::wstring Url(const std::string& path) const;
    std::vector<std::string> Requests() const;  // the request heads, in arrival order

private:
    void AcceptLoop();
    void Serve(uintptr_t connection);
    CannedReply Find(const std::string& path, const std::string& head);

    uintptr_t listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::map<std::string, CannedReply> routes_;
    std::map<std::string, std::function<CannedReply(const std::string&)>> handlers_;
    std::mutex handlerMutex_;
    std::vector<std::string> requests_;
    std::vector<std::thread> connections_;
};

// The value of a request head's header field (case-insensitive name), empty when absent.
std::string HeaderValue(const std::string& head, const std::string& name);

// A body of n bytes that differs at every offset of a 4096-byte piece and between pieces.
std::string PatternBody(size_t n);

}  // namespace memoline::test
