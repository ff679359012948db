// The proxy configuration script, fetched by the system from a server that takes the request and never
// answers: the thread keeps answering its messages meanwhile, and a quit request ends the wait.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "core/Handles.h"
#include "http/NetErrors.h"
#include "http/SystemProxyScript.h"
#include "tests/support/DuringWait.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/ResponsivenessProbe.h"
#include "tests/support/ScriptedPeer.h"

namespace memoline {
namespace {

TEST(ProxyScript, ASilentScriptServerNeitherStallsTheThreadNorHoldsBackAQuit) {
    unique_handle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::mutex lock;
    std::string asked;
    test::ScriptedPeer peer([&](SOCKET s) {
        std::string buffer;
        bool closed = false;
        const std::string request = test::ReceiveRequest(s, buffer, closed);
        {
            std::lock_guard<std::mutex> guard(lock);
            asked = request;
        }
        WaitForSingleObject(stop.get(), 60000);
    });
    const std::wstring script = L"http://127.0.0.1:" + std::to_wstring(peer.Port()) + L"/proxy.pac";
    test::ResponsivenessProbe probe;
    ULONGLONG quitAt = 0;
    const ULONGLONG start = GetTickCount64();
    test::DuringWait wait({[&] {
                              if (quitAt == 0 && GetTickCount64() - start >= 2000) {
                                  quitAt = GetTickCount64();
                                  PostQuitMessage(5);
                              }
                          }},
                          true);
    int code = 0;
    TnetProxyServer proxy;
    try {
        ProxyFromScript(L"http://updates.example/catalogue", script, proxy);
    } catch (const EnetSocketError& e) {
        code = e.ErrorCode();
    }
    const ULONGLONG ended = GetTickCount64();
    const DWORD stall = probe.LongestStallMs();
    std::printf("silent proxy script server: longest UI stall %lu ms over %u answers\n", stall, probe.Answers());
    SetEvent(stop.get());
    ASSERT_NE(quitAt, 0u) << "the script's evaluation ended before the quit request";
    EXPECT_EQ(code, -6);
    EXPECT_LT(ended - quitAt, 2000u);
    EXPECT_LT(stall, 500u);
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(asked.rfind("GET /proxy.pac", 0), 0u) << asked;
    }
    MSG quit;
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit request was lost";
    EXPECT_EQ(quit.wParam, 5u);
}

}  // namespace
}  // namespace memoline
