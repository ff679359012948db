#include "tests/support/CannedHttpServer.h"

#include <chrono>

#include "tests/support/LoopbackSocket.h"

namespace memoline::test {

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
            std::string request = ReceiveRequest(s, buffer, closed);
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
            std::string request = ReceiveRequest(s, buffer, closed);
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
    return closed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return closedConnections_ >= count; });
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
