// One canned answer of a loopback HTTP peer (the same for every peer of the tests), and builders of
// the usual ones.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace memoline::test {

struct CannedReply {
    // Sent first, exactly as it is: normally the status line, the header lines and the empty line, but
    // any bytes at all for replies that break the format.
    std::string head;
    bool close = false;     // close the connection after the reply (the end of a body without length)
    bool drop = false;      // read the request, then close without answering
    std::string body;       // sent after the head
    size_t pieceSize = 0;   // when set, the body goes out in pieces of this size ...
    int pieceDelayMs = 0;   // ... with this pause between them (a slow server)
    bool holdOpen = false;  // after the body, keep the connection until the client closes it
};

// An HTTP response: status line, the header lines, an empty line, the body.
std::string Response(const std::string& statusLine,
                     const std::vector<std::string>& headers,
                     const std::string& body = "");
// The same with "Content-Length" of the body added.
std::string ResponseWithLength(const std::string& statusLine,
                               const std::vector<std::string>& headers,
                               const std::string& body);

// 200 with Content-Length.
CannedReply OkReply(std::string body);
// 200 without Content-Length; the body ends when the connection closes.
CannedReply OkReplyWithoutLength(std::string body);
// A status other than 200, with a short body and any further header lines.
CannedReply StatusReply(int status, const std::string& reason, const std::vector<std::string>& headers = {});
// 302 to `location`.
CannedReply RedirectReply(const std::string& location);
// Announces `announced` bytes, sends `body` (shorter) and closes.
CannedReply TruncatedReply(size_t announced, std::string body);
// Sends `body` in chunks of 4096 bytes and closes the connection without the last (empty) chunk:
// a transfer cut short that announced no length.
CannedReply ChunkedCutReply(const std::string& body);

}  // namespace memoline::test
