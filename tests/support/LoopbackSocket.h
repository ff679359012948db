// What the loopback peers share: Winsock started once for the test program, listeners on 127.0.0.1
// with a port the system picks, and sending a whole reply.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <string>

#include "tests/support/CannedReply.h"

namespace memoline::test {

// A socket on 127.0.0.1 listening with `backlog`, its port in `*port`. Throws std::runtime_error
// when no listener can be made.
SOCKET LoopbackListener(int backlog, int* port);

// Sends all of `bytes`; false when the connection failed first.
bool SendAll(SOCKET s, const std::string& bytes);

// Reads one HTTP request from `s`: the header up to its empty line and the body its Content-Length
// announces; bytes that came after it stay in `buffer` for the next call. Empty, with `closed` set,
// when the connection ended before a whole request came (whatever came is then in `buffer`).
std::string ReceiveRequest(SOCKET s, std::string& buffer, bool& closed);

// Sends the reply's head, then its body (in pieces when it asks for them); stops between pieces
// once `stop` is set. False when the connection failed or the peer was stopped first.
bool SendReply(SOCKET s, const CannedReply& reply, const std::atomic<bool>& stop);

// A loopback port with nobody listening (bound once by the system, then released).
int UnusedLoopbackPort();

}  // namespace memoline::test
