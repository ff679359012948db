// The TCP transport against scripted loopback peers: connect, echo, the failures with their codes
// and texts, the time-out, and the message-dispatching wait.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "http/NetErrors.h"
#include "http/NetSocketApi.h"
#include "http/NetTcpClient.h"
#include "tests/support/ScriptedPeer.h"

namespace memoline {
namespace {

using test::ScriptedPeer;

// The system's own text for an error code, trimmed; what the transport must show.
std::wstring SystemText(int code) {
    wchar_t* buffer = nullptr;
    DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n ? std::wstring(buffer, n) : std::wstring();
    LocalFree(buffer);
    while (!text.empty() && iswspace(text.back()))
        text.pop_back();
    return text;
}

struct ClientFor {
    explicit ClientFor(int port, std::wstring server = L"127.0.0.1") {
        client.Server = std::move(server);
        client.Port = port;
    }
    TnetTcpClient client;
};

std::string ReadOnce(TnetTcpClient& client) {
    TnetStringStream target;
    client.Connection().ReadData(&target);
    return target.DataString();
}

void Send(TnetTcpClient& client, const std::string& bytes) {
    TnetStringStream source(bytes);
    client.Connection().WriteData(&source);
}

TEST(TcpTransport, ConnectsSendsTheExactBytesAndReceivesTheEcho) {
    std::string received;
    ScriptedPeer peer([&](SOCKET s) {
        received = ScriptedPeer::ReceiveExactly(s, 11);
        ScriptedPeer::SendAll(s, "echo:" + received);
        // The last byte too: a socket closed with unread bytes resets the connection, and the reset
        // could overtake the echo.
        ScriptedPeer::ReceiveExactly(s, 1);
    });
    ClientFor c(peer.Port());
    c.client.Open();
    EXPECT_TRUE(c.client.Active());
    Send(c.client, "hello\r\nworld");  // 12 bytes; the peer takes 11 first
    std::string answer;
    while (answer.size() < 16)
        answer += ReadOnce(c.client);
    EXPECT_EQ(answer, "echo:hello\r\nworl");
    EXPECT_EQ(received, "hello\r\nworl");
    c.client.Close();
    EXPECT_FALSE(c.client.Active());
}

TEST(TcpTransport, LargeTransferInBothDirectionsArrivesIntact) {
    std::string payload;
    for (int i = 0; payload.size() < 3'000'000; ++i)
        payload += std::to_string(i) + ",";
    std::string received;
    ScriptedPeer peer([&](SOCKET s) {
        received = ScriptedPeer::ReceiveExactly(s, payload.size());
        ScriptedPeer::SendAll(s, received);
    });
    ClientFor c(peer.Port());
    c.client.BatchSize = 1000;  // many batches per socket event
    c.client.Open();
    Send(c.client, payload);
    TnetStringStream target;
    c.client.Connection().SetReadUntilClose(true);
    c.client.Connection().ReadData(&target);
    EXPECT_EQ(received.size(), payload.size());
    EXPECT_TRUE(received == payload);
    EXPECT_TRUE(target.DataString() == payload);
    EXPECT_FALSE(c.client.Active());
}

TEST(TcpTransport, RefusedConnectionFailsWith10061AndTheSystemText) {
    ClientFor c(test::UnusedLoopbackPort());
    try {
        c.client.Open();
        FAIL() << "open succeeded";
    } catch (const EnetSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10061);
        std::wstring system = SystemText(10061);
        EXPECT_EQ(e.Message(), system.empty() ? SocketErrorText(10061) : system);
        EXPECT_FALSE(e.Message().empty());
    }
    EXPECT_FALSE(c.client.Active());
}

TEST(TcpTransport, UnresolvableNameFailsWithTheLookupErrorBeforeAnyConnect) {
    // An empty label: the C library rejects it without asking any resolver. The port has no
    // listener, so a connect attempt would have failed with 10061 instead.
    ClientFor c(test::UnusedLoopbackPort(), L"a..b");
    try {
        c.client.Open();
        FAIL() << "open succeeded";
    } catch (const EnetSocketError& e) {
        EXPECT_GE(e.ErrorCode(), 11001);
        EXPECT_LE(e.ErrorCode(), 11004);
        EXPECT_EQ(e.Message(), SocketErrorText(e.ErrorCode()));
        EXPECT_FALSE(e.Message().empty());
    }
}

TEST(TcpTransport, NumericHostsNeedNoLookupAndNamesPreferIPv4) {
    struct Case {
        const char* server;
        const char* address;
        bool lookedUp;
    } cases[] = {
        {"127.0.0.1", "127.0.0.1", false},
        {"::1", "::1", false},
        {"[::1]", "::1", false},
        {"localhost", "127.0.0.1", true},
    };
    for (const auto& c : cases) {
        bool lookedUp = !c.lookedUp;
        EXPECT_EQ(ResolveServerAddress(c.server, &lookedUp), c.address) << c.server;
        EXPECT_EQ(lookedUp, c.lookedUp) << c.server;
    }
}

TEST(TcpTransport, InvalidBatchSizeFailsBeforeConnecting) {
    ClientFor c(test::UnusedLoopbackPort());
    c.client.BatchSize = 0;
    try {
        c.client.Open();
        FAIL() << "open succeeded";
    } catch (const EnetSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), -4);
        EXPECT_EQ(e.Message(), L"Invalid Batch Size");
    }
}

TEST(TcpTransport, SilentPeerFailsWithTimeoutAfterTheComponentsTimeOut) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ScriptedPeer peer([&](SOCKET) { WaitForSingleObject(done, 10000); });
    ClientFor c(peer.Port());
    c.client.TimeOut = 300;
    c.client.Open();
    Send(c.client, "request");
    ULONGLONG start = GetTickCount64();
    try {
        ReadOnce(c.client);
        FAIL() << "read succeeded";
    } catch (const EnetSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), -1);
        EXPECT_EQ(e.Message(), L"Timeout error occured");
    }
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 280u);   // not before the time-out (tick granularity allowed for)
    EXPECT_LT(elapsed, 5000u);  // and not the default minute
    SetEvent(done);
    peer.Join();
    CloseHandle(done);
}

TEST(TcpTransport, ReadAfterThePeerClosedAndAllWasReadFailsWith10038) {
    ScriptedPeer peer([](SOCKET s) {
        ScriptedPeer::SendAll(s, "last words");
        shutdown(s, SD_SEND);
    });
    ClientFor c(peer.Port());
    c.client.Open();
    std::string all;
    while (c.client.Active() && all.size() < 10)
        all += ReadOnce(c.client);
    // The close may come with the data or on the next read.
    if (c.client.Active())
        all += ReadOnce(c.client);
    EXPECT_EQ(all, "last words");
    EXPECT_FALSE(c.client.Active());
    try {
        ReadOnce(c.client);
        FAIL() << "read succeeded";
    } catch (const EnetSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10038);
        EXPECT_EQ(e.Message(), SocketErrorText(10038));
    }
}

// A message-only window that records posted messages.
constexpr UINT kProbeMessage = WM_APP + 7;
std::atomic<int> g_probeMessages{0};

LRESULT CALLBACK ProbeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kProbeMessage) {
        ++g_probeMessages;
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND CreateProbeWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"MemolineTransportProbe";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

struct TimerState {
    int ticks = 0;
    int closeAtTick = 0;  // 0: never
    HANDLE release = nullptr;
    TnetTcpClient* client = nullptr;
};
TimerState* g_timer = nullptr;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    ++g_timer->ticks;
    if (g_timer->ticks == 5 && g_timer->release)
        SetEvent(g_timer->release);
    if (g_timer->ticks == g_timer->closeAtTick)
        g_timer->client->Close();
}

TEST(TcpTransport, WaitingReceiveKeepsTimersFiringAndDispatchesPostedMessages) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ScriptedPeer peer([&](SOCKET s) {
        WaitForSingleObject(release, 10000);
        ScriptedPeer::SendAll(s, "late answer");
    });
    ClientFor c(peer.Port());
    c.client.TimeOut = 10000;
    c.client.Open();
    HWND probe = CreateProbeWindow();
    ASSERT_NE(probe, nullptr);
    g_probeMessages = 0;
    PostMessageW(probe, kProbeMessage, 0, 0);
    TimerState state{0, 0, release, &c.client};
    g_timer = &state;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, OnTimer);
    std::string answer = ReadOnce(c.client);
    KillTimer(nullptr, timer);
    g_timer = nullptr;
    EXPECT_EQ(answer, "late answer");  // only sent after the fifth tick
    EXPECT_GE(state.ticks, 5);
    EXPECT_EQ(g_probeMessages.load(), 1);
    DestroyWindow(probe);
    CloseHandle(release);
}

TEST(TcpTransport, CloseFromAHandlerDuringTheWaitAbortsIt) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ScriptedPeer peer([&](SOCKET) { WaitForSingleObject(done, 10000); });
    ClientFor c(peer.Port());
    c.client.TimeOut = 10000;
    c.client.Open();
    TimerState state{0, 3, nullptr, &c.client};
    g_timer = &state;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, OnTimer);
    ULONGLONG start = GetTickCount64();
    int code = 0;
    try {
        ReadOnce(c.client);
    } catch (const EnetSocketError& e) {
        code = e.ErrorCode();
        EXPECT_EQ(e.Message(), L"The connection to the server is not active");
    }
    ULONGLONG elapsed = GetTickCount64() - start;
    KillTimer(nullptr, timer);
    g_timer = nullptr;
    EXPECT_EQ(code, -6);        // an aborted read fails; it never returns as if it had succeeded
    EXPECT_GE(state.ticks, 3);  // the read ended at the tick that closed, not at the time-out
    EXPECT_LE(state.ticks, 5);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_FALSE(c.client.Active());
    EXPECT_THROW(ReadOnce(c.client), EnetSocketError);
    SetEvent(done);
    peer.Join();
    CloseHandle(done);
}

TEST(TcpTransport, QuitRequestDuringTheWaitEndsItAndStaysQueued) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ScriptedPeer peer([&](SOCKET) { WaitForSingleObject(done, 10000); });
    ClientFor c(peer.Port());
    c.client.TimeOut = 10000;
    c.client.Open();
    PostQuitMessage(3);
    ULONGLONG start = GetTickCount64();
    int code = 0;
    try {
        ReadOnce(c.client);
    } catch (const EnetSocketError& e) {
        code = e.ErrorCode();
    }
    EXPECT_EQ(code, -6);
    EXPECT_LT(GetTickCount64() - start, 5000u);
    // Once aborted, a further read fails at once too: it neither waits again nor succeeds.
    start = GetTickCount64();
    EXPECT_THROW(ReadOnce(c.client), EnetSocketError);
    EXPECT_LT(GetTickCount64() - start, 5000u);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // left for the application
    EXPECT_EQ(message.wParam, 3u);
    c.client.Close();
    SetEvent(done);
    peer.Join();
    CloseHandle(done);
}

TEST(TcpTransport, CloseFromAHandlerDuringConnectFailsAsNotActive) {
    // A listener whose queue is full: the system drops further connection requests, so a connect to
    // it stays pending until the handler closes the client.
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    int length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<SOCKET> fillers;
    for (int i = 0; i < 4; ++i) {
        SOCKET filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        ioctlsocket(filler, FIONBIO, &nonBlocking);
        connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(filler);
    }
    // The queue is taken once the first filler is through: wait for that, not for a while.
    fd_set connected;
    FD_ZERO(&connected);
    for (SOCKET filler : fillers)
        FD_SET(filler, &connected);
    timeval fiveSeconds{5, 0};
    ASSERT_GT(select(0, nullptr, &connected, nullptr, &fiveSeconds), 0) << "no filler got through";
    ClientFor c(ntohs(address.sin_port));
    c.client.TimeOut = 10000;
    TimerState state{0, 3, nullptr, &c.client};
    g_timer = &state;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, OnTimer);
    int code = 0;
    std::wstring message;
    try {
        c.client.Open();
    } catch (const EnetSocketError& e) {
        code = e.ErrorCode();
        message = e.Message();
    }
    KillTimer(nullptr, timer);
    g_timer = nullptr;
    EXPECT_EQ(state.ticks, 3);  // the connect was still waiting when the handler closed the client
    EXPECT_EQ(code, -6);
    EXPECT_EQ(message, L"The connection to the server is not active");
    EXPECT_FALSE(c.client.Active());
    for (SOCKET filler : fillers)
        closesocket(filler);
    closesocket(listener);
    WSACleanup();
}

}  // namespace
}  // namespace memoline
