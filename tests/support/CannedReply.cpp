#include "tests/support/CannedReply.h"

#include "tests/support/BodyCoding.h"

namespace memoline::test {
namespace {

std::string StatusLine(int status, const std::string& reason) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason;
}

}  // namespace

std::string Response(const std::string& statusLine, const std::vector<std::string>& headers, const std::string& body) {
    std::string r = statusLine + "\r\n";
    for (const auto& h : headers)
        r += h + "\r\n";
    return r + "\r\n" + body;
}

std::string ResponseWithLength(const std::string& statusLine,
                               const std::vector<std::string>& headers,
                               const std::string& body) {
    std::vector<std::string> all = headers;
    all.push_back("Content-Length: " + std::to_string(body.size()));
    return Response(statusLine, all, body);
}

CannedReply OkReply(std::string body) {
    CannedReply reply;
    reply.head = Response(StatusLine(200, "OK"),
                          {"Content-Type: application/octet-stream", "Content-Length: " + std::to_string(body.size())});
    reply.body = std::move(body);
    return reply;
}

CannedReply OkReplyWithoutLength(std::string body) {
    CannedReply reply;
    reply.head = Response(StatusLine(200, "OK"), {"Content-Type: application/octet-stream", "Connection: close"});
    reply.body = std::move(body);
    reply.close = true;
    return reply;
}

CannedReply StatusReply(int status, const std::string& reason, const std::vector<std::string>& headers) {
    CannedReply reply;
    reply.body = "<html>" + reason + "</html>";
    std::vector<std::string> all = {"Content-Type: text/html", "Content-Length: " + std::to_string(reply.body.size())};
    all.insert(all.end(), headers.begin(), headers.end());
    reply.head = Response(StatusLine(status, reason), all);
    return reply;
}

CannedReply RedirectReply(const std::string& location) {
    CannedReply reply;
    reply.head = Response(StatusLine(302, "Found"), {"Location: " + location, "Content-Length: 0"});
    return reply;
}

CannedReply TruncatedReply(size_t announced, std::string body) {
    CannedReply reply;
    reply.head = Response(StatusLine(200, "OK"), {"Content-Length: " + std::to_string(announced)});
    reply.body = std::move(body);
    reply.close = true;
    return reply;
}

CannedReply ChunkedCutReply(const std::string& body) {
    CannedReply reply;
    reply.head =
        Response(StatusLine(200, "OK"), {"Content-Type: application/octet-stream", "Transfer-Encoding: chunked"});
    reply.body = Chunked(body, 4096);
    reply.body.resize(reply.body.size() - kLastChunk.size());
    reply.close = true;
    return reply;
}

}  // namespace memoline::test
