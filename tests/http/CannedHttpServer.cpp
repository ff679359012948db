#include "tests/http/CannedHttpServer.h"

#include <ws2tcpip.h>
#include <zlib.h>

#include <cstdio>

namespace memoline::test {
namespace {

struct WinsockStarted {
    WinsockStarted() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};

void SendAll(SOCKET s, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
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
    static WinsockStarted started;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the system picks the port
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 4);
    thread_ = std::thread([this, connections = std::move(connections)]() mutable { Run(std::move(connections)); });
}

CannedHttpServer::~CannedHttpServer() {
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
            SendAll(s, reply.bytes);
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
    }
}

std::vector<std::vector<std::string>> CannedHttpServer::Requests() {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

std::string Response(const std::string& statusLine, const std::vector<std::string>& headers,
                     const std::string& body) {
    std::string r = statusLine + "\r\n";
    for (const auto& h : headers)
        r += h + "\r\n";
    return r + "\r\n" + body;
}

std::string ResponseWithLength(const std::string& statusLine, const std::vector<std::string>& headers,
                               const std::string& body) {
    std::vector<std::string> all = headers;
    all.push_back("Content-Length: " + std::to_string(body.size()));
    return Response(statusLine, all, body);
}

std::string Gzip(const std::string& data) {
    z_stream z{};
    // 31: a gzip wrapper around the deflate data.
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Chunked(const std::string& data, size_t chunkSize) {
    std::string out;
    char size[32];
    for (size_t i = 0; i < data.size(); i += chunkSize) {
        const std::string piece = data.substr(i, chunkSize);
        snprintf(size, sizeof size, "%zx", piece.size());
        out += std::string(size) + "\r\n" + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

}  // namespace memoline::test
