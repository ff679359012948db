// The form-post client's limit for a whole request: a server that sends a byte now and then keeps
// every single wait short, and still the request ends.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/Handles.h"
#include "http/NetErrors.h"
#include "http/NetHttp.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/ScriptedPeer.h"

namespace memoline {
namespace {

using test::ScriptedPeer;

TEST(RequestTimeOut, ATricklingAnswerEndsWithTheTimeOutMessage) {
    unique_handle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScriptedPeer peer([&](SOCKET s) {
        std::string buffer;
        bool closed = false;
        test::ReceiveRequest(s, buffer, closed);
        ScriptedPeer::SendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n");
        // One body byte every 100 ms: 40 s for the whole body.
        for (int i = 0; i < 400 && WaitForSingleObject(stop.get(), 100) == WAIT_TIMEOUT; ++i)
            ScriptedPeer::SendAll(s, "x");
    });
    TnetHttp http;
    http.RequestTimeOut = 2000;
    TnetHttpRequest request;
    request.AddFormField(L"a", L"b");
    TnetStringList lines;
    const ULONGLONG start = GetTickCount64();
    int code = 0;
    std::wstring message;
    try {
        http.Post(L"http://127.0.0.1:" + std::to_wstring(peer.Port()) + L"/c", &request, lines);
    } catch (const EnetSocketError& e) {
        code = e.ErrorCode();
        message = e.Message();
    }
    const ULONGLONG took = GetTickCount64() - start;
    SetEvent(stop.get());
    EXPECT_EQ(code, -1);
    EXPECT_EQ(message, L"Timeout error occured");
    EXPECT_GE(took, 1800u);
    EXPECT_LT(took, 10000u);
}

}  // namespace
}  // namespace memoline
