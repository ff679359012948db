#include "tests/support/CannedHttpServer.h"

#include <chrono>
#include <cstdlib>

#include "tests/support/LoopbackSocket.h"

namespace memoline::test {
namespace {

size_t ContentLength(const std::string& header) {
    std::string lower;
    for (char c : header)
        lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return static_cast<size_t>(strtoul(header.c_str() + at + 17, nullptr, 10));
}

// One request: the header up to its empty line and the body it announces. Empty when the client
// closed before a whole request came; whatever came is then in `rest`.
std::string ReadRequest(SOCKET s, std::string& buffer, bool& closed) {
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

}  // namespace

CannedHttpServer::CannedHttpServer(std::vector<std::vector<CannedReply>> connections) {
    listener_ = LoopbackListener(4, &port_);
    thread_ = std::thread([this, connections = std::move(connections)]() mutable { Run(std::move(connections)); });
}

CannedHttpServer::~CannedHttpServer() {
    stop_ = true;
    closesocket(listener_);
    if (thread_.joinable())
        thread_.join();
}

std::string CannedHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void CannedHttpServer::Run(std::vector<std::vector<CannedReply>> connections) {
    for (auto& replies : connections) {
        SOCKET s = accept(listener_, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            return;  // the listener was closed: no client came
        {
            std::lock_guard<std::mutex> guard(lock_);
            requests_.emplace_back();
        }
        std::string buffer;
        bool closed = false;
        bool ended = false;
        for (const auto& reply : replies) {
            std::string request = ReadRequest(s, buffer, closed);
            if (closed)
                break;
            {
                std::lock_guard<std::mutex> guard(lock_);
                requests_.back().push_back(request);
            }
            if (reply.drop) {
                ended = true;
                break;
            }
            SendReply(s, reply, stop_);
            if (reply.close) {
                ended = true;
                break;
            }
        }
        // Anything the client still sends on this connection is recorded until it closes.
        while (!ended && !closed) {
            std::string request = ReadRequest(s, buffer, closed);
            std::lock_guard<std::mutex> guard(lock_);
            if (!request.empty())
                requests_.back().push_back(request);
            else if (!buffer.empty())
                requests_.back().push_back(buffer);
        }
        if (ended)
            shutdown(s, SD_SEND);
        closesocket(s);
        std::lock_guard<std::mutex> guard(lock_);
        ++closedConnections_;
        closed_.notify_all();
    }
}

bool CannedHttpServer::WaitForClosedConnections(size_t count, unsigned timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return closed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return closedConnections_ >= count; });
}

std::vector<std::vector<std::string>> CannedHttpServer::Requests() {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

}  // namespace memoline::test
