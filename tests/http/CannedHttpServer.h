// A loopback HTTP peer with canned replies, for the form-post client's tests: it accepts connections
// one after another on 127.0.0.1 (port picked by the system), reads each request (header, then the
// body its Content-Length announces), records the exact bytes and answers from a script.
#pragma once

#include <winsock2.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace memoline::test {

struct CannedReply {
    std::string bytes;     // sent as they are
    bool close = false;    // close the connection after sending
    bool drop = false;     // read the request, then close without answering
};

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

private:
    void Run(std::vector<std::vector<CannedReply>> connections);

    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread thread_;
    std::mutex lock_;
    std::vector<std::vector<std::string>> requests_;
};

// An HTTP response: status line, the header lines, an empty line, the body.
std::string Response(const std::string& statusLine, const std::vector<std::string>& headers,
                     const std::string& body = "");
// The same with "Content-Length" of the body added.
std::string ResponseWithLength(const std::string& statusLine, const std::vector<std::string>& headers,
                               const std::string& body);
// Bytes in the gzip format.
std::string Gzip(const std::string& data);
// Bytes in the chunked coding, in chunks of at most `chunkSize`.
std::string Chunked(const std::string& data, size_t chunkSize);

}  // namespace memoline::test
