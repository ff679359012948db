#include "tests/download/TestHttpServer.h"

#include <cstdio>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

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

bool SendAll(SOCKET s, const char* data, size_t size) {
    while (size > 0) {
        int sent = send(s, data, static_cast<int>(size), 0);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

std::string Head(int status, const std::string& reason, const std::string& headers) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + headers;
}

}  // namespace

CannedReply OkReply(std::string body) {
    CannedReply reply;
    reply.head = Head(200, "OK", "Content-Type: application/octet-stream\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\n");
    reply.body = std::move(body);
    return reply;
}

CannedReply OkReplyWithoutLength(std::string body) {
    CannedReply reply;
    reply.head = Head(200, "OK", "Content-Type: application/octet-stream\r\nConnection: close\r\n");
    reply.body = std::move(body);
    reply.close = true;
    return reply;
}

CannedReply StatusReply(int status, const std::string& reason) {
    CannedReply reply;
    std::string body = "<html>" + reason + "</html>";
    reply.head = Head(status, reason, "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                                          "\r\n");
    reply.body = body;
    return reply;
}

CannedReply RedirectReply(const std::string& location) {
    CannedReply reply;
    reply.head = Head(302, "Found", "Location: " + location + "\r\nContent-Length: 0\r\n");
    return reply;
}

CannedReply TruncatedReply(size_t announced, std::string body) {
    CannedReply reply;
    reply.head = Head(200, "OK", "Content-Length: " + std::to_string(announced) + "\r\n");
    reply.body = std::move(body);
    reply.close = true;
    return reply;
}

CannedReply ChunkedCutReply(const std::string& body) {
    CannedReply reply;
    reply.head = Head(200, "OK", "Content-Type: application/octet-stream\r\nTransfer-Encoding: chunked\r\n");
    for (size_t at = 0; at < body.size(); at += 4096) {
        const std::string chunk = body.substr(at, 4096);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        reply.body += size + chunk + "\r\n";
    }
    reply.close = true;
    return reply;
}

std::string PatternBody(size_t n) {
    std::string body(n, '\0');
    for (size_t i = 0; i < n; ++i)
        body[i] = static_cast<char>((i * 7 + i / 4096 * 13 + 1) & 0xFF);
    return body;
}

TestHttpServer::TestHttpServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the system picks a free port
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 16) != 0)
        throw std::runtime_error("test server cannot listen");
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listener_ = s;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stop_ = true;
    acceptThread_.join();
    closesocket(static_cast<SOCKET>(listener_));
    for (auto& t : connections_)
        t.join();
    WSACleanup();
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
    bool open = true;
    while (open && !stop_) {
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
        std::string out = reply.head + "\r\n";
        if (!SendAll(s, out.data(), out.size()))
            break;
        size_t piece = reply.pieceSize ? reply.pieceSize : reply.body.size();
        for (size_t offset = 0; offset < reply.body.size() && open && !stop_; offset += piece) {
            if (offset > 0 && reply.pieceDelayMs > 0)
                Sleep(static_cast<DWORD>(reply.pieceDelayMs));
            size_t n = std::min(piece, reply.body.size() - offset);
            open = SendAll(s, reply.body.data() + offset, n);
        }
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
