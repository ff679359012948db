#include "tests/support/TestHttpServer.h"

#include "tests/support/LoopbackSocket.h"

namespace memoline::test {
namespace {

// Waits up to 50 ms for the socket to become readable, so the loops notice a stop request.
bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{0, 50 * 1000};
    return select(0, &set, nullptr, nullptr, &wait) > 0;
}

}  // namespace

std::string PatternBody(size_t n) {
    std::string body(n, '\0');
    for (size_t i = 0; i < n; ++i)
        body[i] = static_cast<char>((i * 7 + i / 4096 * 13 + 1) & 0xFF);
    return body;
}

TestHttpServer::TestHttpServer() {
    listener_ = LoopbackListener(16, &port_);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stop_ = true;
    acceptThread_.join();
    closesocket(static_cast<SOCKET>(listener_));
    for (auto& t : connections_)
        t.join();
}

void TestHttpServer::Route(const std::string& path, CannedReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(reply);
}

std::wstring TestHttpServer::Url(const std::string& path) const {
    return L"http://127.0.0.1:" + std::to_wstring(port_) + std::wstring(path.begin(), path.end());
}

std::vector<std::string> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void TestHttpServer::RouteHandler(const std::string& path,
                                  std::function<CannedReply(const std::string& head)> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[path] = std::move(handler);
}

CannedReply TestHttpServer::Find(const std::string& path, const std::string& head) {
    std::function<CannedReply(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = routes_.find(path);
        if (it != routes_.end())
            return it->second;
        auto h = handlers_.find(path);
        if (h == handlers_.end())
            return StatusReply(404, "Not Found");
        handler = h->second;
    }
    std::lock_guard<std::mutex> lock(handlerMutex_);
    return handler(head);
}

std::string HeaderValue(const std::string& head, const std::string& name) {
    auto lower = [](std::string s) {
        for (auto& c : s)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string h = lower(head);
    const std::string key = "\r\n" + lower(name) + ":";
    size_t at = h.find(key);
    if (at == std::string::npos)
        return {};
    size_t start = head.find_first_not_of(' ', at + key.size());
    size_t end = head.find("\r\n", start);
    return head.substr(start, end - start);
}

void TestHttpServer::AcceptLoop() {
    SOCKET listener = static_cast<SOCKET>(listener_);
    while (!stop_) {
        if (!Readable(listener))
            continue;
        SOCKET connection = accept(listener, nullptr, nullptr);
        if (connection == INVALID_SOCKET)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.emplace_back([this, connection] { Serve(connection); });
    }
}

void TestHttpServer::Serve(uintptr_t handle) {
    SOCKET s = static_cast<SOCKET>(handle);
    std::string pending;
    while (!stop_) {
        size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (!Readable(s))
                continue;
            char buffer[4096];
            int got = recv(s, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            pending.append(buffer, static_cast<size_t>(got));
            continue;
        }
        std::string head = pending.substr(0, end + 4);
        pending.erase(0, end + 4);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(head);
        }
        size_t pathStart = head.find(' ') + 1;
        std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
        CannedReply reply = Find(path, head);
        if (reply.drop || !SendReply(s, reply, stop_))
            break;
        if (reply.holdOpen) {
            // Until the client gives up the connection (or the test ends).
            while (!stop_) {
                if (!Readable(s))
                    continue;
                char buffer[512];
                if (recv(s, buffer, sizeof buffer, 0) <= 0)
                    break;
            }
            break;
        }
        if (reply.close)
            break;
    }
    shutdown(s, SD_BOTH);
    closesocket(s);
}

}  // namespace memoline::test
