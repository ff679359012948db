// The TCP transport against scripted loopback peers: connect, echo, the failures with their codes
// and texts, the time-out, and the message-dispatching wait.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Handles.h"
#include "http/NetErrors.h"
#include "http/NetSocketApi.h"
#include "http/NetTcpClient.h"
#include "tests/support/DuringWait.h"
#include "tests/support/ResponsivenessProbe.h"
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

// A client whose name lookup answers with a fixed list, as a name with several records does.
class ListedAddressesClient : public TnetTcpClient {
public:
    std::vector<std::string> addresses;

protected:
    std::vector<std::string> ResolveServer() override { return addresses; }
};

// A listener on `ip` whose queue is full: the system drops further connection requests, so a connect
// to it neither succeeds nor fails, as with an address whose packets are swallowed.
class SwallowingListener {
public:
    SwallowingListener(const char* ip, int port) {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        inet_pton(AF_INET, ip, &address.sin_addr);
        ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener_, 1) == 0;
        for (int i = 0; ok_ && i < 4; ++i) {
            SOCKET filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long nonBlocking = 1;
            ioctlsocket(filler, FIONBIO, &nonBlocking);
            connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fillers_.push_back(filler);
        }
        fd_set connected;
        FD_ZERO(&connected);
        for (SOCKET filler : fillers_)
            FD_SET(filler, &connected);
        timeval fiveSeconds{5, 0};
        ok_ = ok_ && select(0, nullptr, &connected, nullptr, &fiveSeconds) > 0;
    }
    ~SwallowingListener() {
        for (SOCKET filler : fillers_)
            closesocket(filler);
        closesocket(listener_);
        WSACleanup();
    }
    SwallowingListener(const SwallowingListener&) = delete;
    SwallowingListener& operator=(const SwallowingListener&) = delete;
    bool Ok() const { return ok_; }

private:
    SOCKET listener_ = INVALID_SOCKET;
    std::vector<SOCKET> fillers_;
    bool ok_ = false;
};

TEST(TcpTransport, EveryAddressOfTheNameIsTriedInTurn) {
    struct Case {
        const char* name;
        std::vector<std::string> addresses;
        bool connects;
    } cases[] = {
        {"refusing IPv4 first", {"127.0.0.2", "127.0.0.1"}, true},
        {"IPv6 without a listener first", {"::1", "127.0.0.1"}, true},
        {"no address text first", {"no-address", "127.0.0.1"}, true},
        {"live first", {"127.0.0.1", "127.0.0.2"}, true},
        {"none live", {"127.0.0.2", "::1"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer([](SOCKET s) {
            ScriptedPeer::SendAll(s, "hi");
            ScriptedPeer::ReceiveUntilClose(s);
        });
        ListedAddressesClient client;
        client.Port = peer.Port();
        client.TimeOut = 5000;
        client.addresses = c.addresses;
        if (!c.connects) {
            EXPECT_THROW(client.Open(), EnetSocketError);
            EXPECT_FALSE(client.Active());
            continue;
        }
        ASSERT_NO_THROW(client.Open());
        EXPECT_EQ(client.Connection().NetworkStream()->FPeerIP, "127.0.0.1");
        std::string got;
        while (got.size() < 2)
            got += ReadOnce(client);
        EXPECT_EQ(got, "hi");
        client.Close();
    }
}

// A first address that swallows the connect costs its share of the time-out, not all of it.
TEST(TcpTransport, AnAddressThatNeverAnswersLeavesTimeForTheNext) {
    ScriptedPeer peer([](SOCKET s) {
        ScriptedPeer::SendAll(s, "hi");
        ScriptedPeer::ReceiveUntilClose(s);
    });
    SwallowingListener dead("127.0.0.2", peer.Port());
    ASSERT_TRUE(dead.Ok()) << "the swallowing listener could not be set up";
    ListedAddressesClient client;
    client.Port = peer.Port();
    client.TimeOut = 4000;
    client.addresses = {"127.0.0.2", "127.0.0.1"};
    const ULONGLONG start = GetTickCount64();
    ASSERT_NO_THROW(client.Open());
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(client.Connection().NetworkStream()->FPeerIP, "127.0.0.1");
    EXPECT_GE(took, 1500u);  // the dead one had its share: half of the time-out
    EXPECT_LT(took, 3900u);
    client.Close();
}

TEST(TcpTransport, NamesResolveToEachOfTheirAddressesOnce) {
    bool lookedUp = false;
    const std::vector<std::string> local = ResolveServerAddresses("localhost", &lookedUp);
    EXPECT_TRUE(lookedUp);
    ASSERT_FALSE(local.empty());
    EXPECT_EQ(local.front(), "127.0.0.1");
    for (size_t i = 0; i < local.size(); ++i) {
        for (size_t j = i + 1; j < local.size(); ++j)
            EXPECT_NE(local[i], local[j]);
    }
    EXPECT_EQ(ResolveServerAddresses("[::1]", &lookedUp), std::vector<std::string>{"::1"});
    EXPECT_FALSE(lookedUp);
}

// A call that may block runs on a worker while the thread answers its messages, and ends as a network
// wait ends: done, its failure, a quit request, an abort, the operation's and the total time-out.
TEST(TcpTransport, ABlockingCallRunsOffTheThreadAndEndsAsAWaitEnds) {
    struct Case {
        const char* name;
        int timeOut;
        int totalTimeOut;
        std::function<void(TnetSyncConnection&)> during;  // at the first tick of the wait
        bool blocks;                                      // the work waits until released
        int code;                                         // 0: no failure
        bool quits;
    } cases[] = {
        {"done", 5000, 0, nullptr, false, 0, false},
        {"its own failure", 5000, 0, nullptr, false, 11001, false},
        {"quit request", 10000, 0, [](TnetSyncConnection&) { PostQuitMessage(4); }, true, -6, true},
        {"abort", 10000, 0, [](TnetSyncConnection& c) { c.Abort(); }, true, -6, false},
        {"operation time-out", 400, 0, nullptr, true, -1, false},
        {"total time-out", 10000, 400, nullptr, true, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TnetTcpClient client;
        TnetSyncConnection& connection = client.Connection();
        connection.SetTimeOut(c.timeOut);
        connection.SetTotalTimeOut(c.totalTimeOut);
        struct TState {
            unique_handle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
            DWORD thread = 0;
        };
        auto state = std::make_shared<TState>();
        const bool blocks = c.blocks;
        const int code = c.code;
        test::DuringWait wait({[&] {
            if (c.during)
                c.during(connection);
        }});
        test::ResponsivenessProbe probe;
        const ULONGLONG start = GetTickCount64();
        int failure = 0;
        try {
            connection.RunBlockingCall([state, blocks, code] {
                state->thread = GetCurrentThreadId();
                if (blocks)
                    WaitForSingleObject(state->release.get(), 10000);
                if (code > 0)
                    throw EnetSocketError(L"lookup failed", code);
            });
        } catch (const EnetSocketError& e) {
            failure = e.ErrorCode();
        }
        const ULONGLONG took = GetTickCount64() - start;
        EXPECT_EQ(failure, c.code);
        EXPECT_LT(took, 5000u);
        EXPECT_LT(probe.LongestStallMs(), 500u);
        SetEvent(state->release.get());
        if (!c.blocks)  // the worker has finished: what it wrote can be read
            EXPECT_NE(state->thread, GetCurrentThreadId());
        MSG quit;
        const bool quitQueued = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
        EXPECT_EQ(quitQueued, c.quits) << "a quit request must stay for the application's loop";
    }
}

// However the peer spreads its bytes, the total time-out ends the reading.
TEST(TcpTransport, TheTotalTimeOutEndsAPeerThatTrickles) {
    unique_handle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScriptedPeer peer([&](SOCKET s) {
        // A byte every 100 ms for up to 20 s: each one restarts the per-piece time-out.
        for (int i = 0; i < 200 && WaitForSingleObject(stop.get(), 100) == WAIT_TIMEOUT; ++i)
            ScriptedPeer::SendAll(s, "x");
    });
    ClientFor c(peer.Port());
    c.client.TimeOut = 60000;
    c.client.RequestTimeOut = 1500;
    c.client.Open();
    c.client.StartRequestClock();
    TnetStringStream target;
    c.client.Connection().SetReadUntilClose(true);
    const ULONGLONG start = GetTickCount64();
    int code = 0;
    try {
        c.client.Connection().ReadData(&target);
    } catch (const EnetSocketError& e) {
        code = e.ErrorCode();
        EXPECT_EQ(e.Message(), L"Timeout error occured");
    }
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(code, -1);
    EXPECT_GE(took, 1300u);
    EXPECT_LT(took, 8000u);
    EXPECT_FALSE(target.DataString().empty()) << "the trickle never came";
    SetEvent(stop.get());
    c.client.Close();
}

}  // namespace
}  // namespace memoline
