#include "http/NetTcpClient.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "http/NetErrors.h"
#include "http/NetSocketApi.h"
#include "core/MessagePump.h"

namespace memoline {
namespace {

[[noreturn]] void RaiseOwn(int code) {
    switch (code) {
        case kNetTimeout:
            throw EnetSocketError(L"Timeout error occured", code);
        case kNetInvalidAddress:
            throw EnetSocketError(L"Invalid host address", code);
        case kNetInvalidBatchSize:
            throw EnetSocketError(L"Invalid Batch Size", code);
        case kNetNoNetworkStream:
            throw EnetSocketError(L"NetworkStream is required", code);
        default:
            throw EnetSocketError(L"The connection to the server is not active", kNetConnectionLost);
    }
}

int LastSocketError() {
    return TnetSocketApi::Get().WSAGetLastError();
}

// A numeric IPv6 or IPv4 address text, parsed into `address`; IPv6 is tried first.
bool ParseNumericAddress(const std::string& text, int port, sockaddr_storage& address, int& length) {
    const auto& api = TnetSocketApi::Get();
    address = {};
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (api.inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = api.htons(static_cast<u_short>(port));
        length = sizeof(sockaddr_in6);
        return true;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    if (api.inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = api.htons(static_cast<u_short>(port));
        length = sizeof(sockaddr_in);
        return true;
    }
    return false;
}

std::string AddressText(const sockaddr* address, int* port) {
    const auto& api = TnetSocketApi::Get();
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET6) {
        auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        api.inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        if (port)
            *port = api.ntohs(v6->sin6_port);
    } else {
        auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        api.inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        if (port)
            *port = api.ntohs(v4->sin_port);
    }
    return text;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

}  // namespace

std::string ResolveServerAddress(const std::string& server, bool* lookedUp) {
    const auto& api = TnetSocketApi::Get();
    std::string name = server;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    if (lookedUp)
        *lookedUp = false;
    sockaddr_storage numeric;
    int length = 0;
    if (ParseNumericAddress(name, 0, numeric, length))
        return name;
    if (lookedUp)
        *lookedUp = true;
    addrinfo* list = nullptr;
    int status = api.getaddrinfo(name.c_str(), nullptr, nullptr, &list);
    if (status != 0)
        RaiseSocketError(status);
    const addrinfo* chosen = list;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET) {
            chosen = entry;
            break;
        }
    }
    std::string text = chosen != nullptr ? AddressText(chosen->ai_addr, nullptr) : std::string();
    api.freeaddrinfo(list);
    return text;
}

// --- TnetNetworkStream ---------------------------------------------------------------------------

void TnetNetworkStream::Deliver(TnetStream* target, const char* data, size_t count) {
    if (target == nullptr || !pending_.empty()) {
        pending_.append(data, count);
        return;
    }
    size_t take = std::min(count, connection_.Remaining());
    target->Write(data, take);
    connection_.CountBytes(take);
    FBytesProceed += static_cast<int64_t>(take);
    pending_.append(data + take, count - take);
}

bool TnetNetworkStream::DeliverPending(TnetStream* target) {
    if (target == nullptr || pending_.empty())
        return false;
    size_t take = std::min(pending_.size(), connection_.Remaining());
    if (take == 0)
        return false;
    target->Write(pending_.data(), take);
    connection_.CountBytes(take);
    FBytesProceed += static_cast<int64_t>(take);
    pending_.erase(0, take);
    return true;
}

void TnetNetworkStream::Read(TnetStream* target) {
    std::vector<char> buffer(ReadBatchSize(static_cast<size_t>(connection_.BatchSize())));
    for (;;) {
        size_t want = std::min(buffer.size(), connection_.Remaining());
        if (want == 0)
            return;
        int received = connection_.Receive(buffer.data(), static_cast<int>(want));
        if (received < 0)
            return;
        if (received == 0) {
            FNeedClose = true;
            return;
        }
        Deliver(target, buffer.data(), static_cast<size_t>(received));
        if (connection_.LimitReached())
            return;
    }
}

bool TnetNetworkStream::Write(TnetStream* source) {
    if (source == nullptr)
        return true;
    std::vector<char> buffer(static_cast<size_t>(connection_.BatchSize()));
    for (;;) {
        size_t count = source->Read(buffer.data(), buffer.size());
        if (count == 0)
            return true;
        int sent = connection_.Send(buffer.data(), static_cast<int>(count));
        FBytesProceed += sent;
        if (static_cast<size_t>(sent) < count) {
            source->Seek(-static_cast<int64_t>(count - static_cast<size_t>(sent)), TnetSeekOrigin::Current);
            return false;
        }
    }
}

// --- TnetConnection ------------------------------------------------------------------------------

TnetConnection::TnetConnection() = default;
TnetConnection::~TnetConnection() = default;

void TnetConnection::SetNetworkStream(std::unique_ptr<TnetNetworkStream> stream) {
    FNetworkStream = std::move(stream);
}

void TnetConnection::InitProgress(int64_t totalBytes, int64_t bytesToProceed) {
    FTotalBytes = totalBytes;
    FTotalBytesProceed = 0;
    FBytesToProceed = bytesToProceed;
    if (FNetworkStream)
        FNetworkStream->ResetBytesProceed();
}

size_t TnetConnection::Remaining() const {
    if (FBytesToProceed < 0)
        return SIZE_MAX;
    return FTotalBytesProceed >= FBytesToProceed ? 0 : static_cast<size_t>(FBytesToProceed - FTotalBytesProceed);
}

int TnetConnection::Send(const char* data, int count) {
    int sent = TnetSocketApi::Get().send(FSocket, data, count, 0);
    if (sent != SOCKET_ERROR)
        return sent;
    int error = LastSocketError();
    if (error == WSAEWOULDBLOCK)
        return 0;
    RaiseSocketError(error);
}

int TnetConnection::Receive(char* buffer, int count) {
    int received = TnetSocketApi::Get().recv(FSocket, buffer, count, 0);
    if (received != SOCKET_ERROR)
        return received;
    int error = LastSocketError();
    if (error == WSAEWOULDBLOCK)
        return -1;
    RaiseSocketError(error);
}

// --- TnetSyncConnection --------------------------------------------------------------------------

TnetSyncConnection::TnetSyncConnection() {
    // Manual reset, as WSACreateEvent makes it: WSAEnumNetworkEvents resets it.
    FSocketEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Auto reset: one Abort ends one wait.
    FAbortEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

TnetSyncConnection::~TnetSyncConnection() {
    CloseHandle(FSocketEvent);
    CloseHandle(FAbortEvent);
}

void TnetSyncConnection::Abort() {
    FIsAborted = true;
    SetEvent(FAbortEvent);
}

void TnetSyncConnection::StartOperation() {
    FTimeOutTicks = GetTickCount64();
}

void TnetSyncConnection::CheckTimeOut() const {
    if (GetTickCount64() - FTimeOutTicks > static_cast<ULONGLONG>(std::max(FTimeOut, 0)))
        RaiseOwn(kNetTimeout);
}

void TnetSyncConnection::CheckUsable() const {
    if (!FNetworkStream)
        RaiseOwn(kNetNoNetworkStream);
    if (FBatchSize < 1)
        RaiseOwn(kNetInvalidBatchSize);
}

bool TnetSyncConnection::WaitForSocketEvent() {
    ULONGLONG elapsed = GetTickCount64() - FTimeOutTicks;
    ULONGLONG limit = static_cast<ULONGLONG>(std::max(FTimeOut, 0));
    if (elapsed >= limit)
        RaiseOwn(kNetTimeout);
    HANDLE handles[2] = {FSocketEvent, FAbortEvent};
    // QS_ALLINPUT also wakes for messages sent from other threads (Synchronize), which PeekMessage
    // then delivers; MWMO_INPUTAVAILABLE wakes for messages already queued before this wait too.
    DWORD result =
        MsgWaitForMultipleObjectsEx(2, handles, static_cast<DWORD>(limit - elapsed), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0)
        return true;
    if (result == WAIT_OBJECT_0 + 1)
        return false;
    if (result == WAIT_TIMEOUT)
        RaiseOwn(kNetTimeout);
    if (result != WAIT_OBJECT_0 + 2)
        RaiseSocketError(static_cast<int>(GetLastError()));
    // A quit request means the application is ending: this operation stops, and the request is left
    // for the application's own message loop.
    if (core::ProcessPendingMessages(core::TQuitPolicy::StopAndRepost, nullptr, [this] { CheckTimeOut(); }).quit) {
        Abort();
        return false;
    }
    CheckTimeOut();
    return false;
}

void TnetSyncConnection::CloseByPeer() {
    if (FNetworkStream) {
        try {
            FNetworkStream->CloseSession(false);
        } catch (const EnetError&) {
            // The peer is gone; nothing is left to report about the session.
        }
    }
    if (FSocket != INVALID_SOCKET) {
        TnetSocketApi::Get().closesocket(FSocket);
        FSocket = INVALID_SOCKET;
    }
    FActive = false;
}

void TnetSyncConnection::ReadData(TnetStream* target) {
    CheckUsable();
    StartOperation();
    TnetNetworkStream& stream = *FNetworkStream;
    const int64_t before = FTotalBytesProceed;
    bool closedHere = false;
    auto readStep = [&] {
        stream.Read(target);
        if (stream.NeedClose() && !stream.HasPending() && FActive) {
            CloseByPeer();
            closedHere = true;
        }
    };
    // Enough for this call: something arrived for the caller, or the stream's own read step is done.
    auto satisfied = [&] {
        if (FIsReadUntilClose)
            return false;
        if (target != nullptr)
            return FTotalBytesProceed > before;
        return stream.NextAction() != TnetNetworkStreamAction::saRead;
    };

    stream.DeliverPending(target);
    if (stream.NeedClose() && !stream.HasPending() && FActive) {
        CloseByPeer();
        closedHere = true;
    }
    if (stream.HasReadData() && FActive) {
        stream.SetHasReadData(false);
        readStep();
    }
    while (!closedHere && !LimitReached() && !satisfied()) {
        if (!FActive)
            RaiseSocketError(kNetNotSocket);
        // An aborted read fails: returning empty-handed would let the caller read again (each time
        // with a fresh time-out) or take what has arrived so far for the whole answer.
        if (FIsAborted || !WaitForSocketEvent()) {
            if (FIsAborted)
                RaiseOwn(kNetConnectionLost);
            continue;
        }
        WSANETWORKEVENTS events{};
        if (TnetSocketApi::Get().WSAEnumNetworkEvents(FSocket, FSocketEvent, &events) != 0)
            RaiseSocketError(LastSocketError());
        if ((events.lNetworkEvents & FD_CLOSE) && events.iErrorCode[FD_CLOSE_BIT] != 0)
            RaiseSocketError(events.iErrorCode[FD_CLOSE_BIT]);
        if ((events.lNetworkEvents & FD_READ) && events.iErrorCode[FD_READ_BIT] != 0)
            RaiseSocketError(events.iErrorCode[FD_READ_BIT]);
        if ((events.lNetworkEvents & (FD_READ | FD_CLOSE)) == 0)
            continue;
        readStep();
        if (FIsReadUntilClose)
            StartOperation();  // the time-out is per piece while reading until close
    }
    ProcessPendingActions();
}

void TnetSyncConnection::WriteData(TnetStream* source) {
    CheckUsable();
    StartOperation();
    TnetNetworkStream& stream = *FNetworkStream;
    if (!FActive)
        RaiseSocketError(kNetNotSocket);
    if (!stream.Write(source)) {
        for (;;) {
            if (FIsAborted || !WaitForSocketEvent()) {
                if (FIsAborted)
                    RaiseOwn(kNetConnectionLost);
                continue;
            }
            WSANETWORKEVENTS events{};
            if (TnetSocketApi::Get().WSAEnumNetworkEvents(FSocket, FSocketEvent, &events) != 0)
                RaiseSocketError(LastSocketError());
            for (int bit : {FD_READ_BIT, FD_WRITE_BIT, FD_CLOSE_BIT}) {
                if ((events.lNetworkEvents & (1 << bit)) && events.iErrorCode[bit] != 0)
                    RaiseSocketError(events.iErrorCode[bit]);
            }
            if (events.lNetworkEvents & FD_READ)
                stream.SetHasReadData(true);
            if (events.lNetworkEvents & FD_CLOSE) {
                CloseByPeer();
                return;
            }
            if (events.lNetworkEvents & FD_WRITE) {
                StartOperation();
                if (stream.Write(source))
                    break;
            }
        }
    }
    ProcessPendingActions();
}

void TnetSyncConnection::ProcessPendingActions() {
    while (FActive && !FIsAborted && FNetworkStream) {
        switch (FNetworkStream->NextAction()) {
            case TnetNetworkStreamAction::saWrite:
                WriteData(nullptr);
                break;
            case TnetNetworkStreamAction::saRead:
                ReadData(nullptr);
                break;
            case TnetNetworkStreamAction::saNone:
                return;
        }
    }
}

// --- TnetTcpConnection ---------------------------------------------------------------------------

void TnetTcpConnection::CloseSocket() {
    if (FSocket != INVALID_SOCKET) {
        TnetSocketApi::Get().closesocket(FSocket);
        FSocket = INVALID_SOCKET;
    }
    FActive = false;
}

void TnetTcpConnection::Close(bool notifyPeer) {
    Abort();
    if (FNetworkStream) {
        try {
            FNetworkStream->CloseSession(notifyPeer && FActive);
        } catch (const EnetError&) {
            // A close must not hide the failure that led to it, nor fail a destructor.
        }
    }
    CloseSocket();
}

// --- TnetTcpClientConnection ---------------------------------------------------------------------

void TnetTcpClientConnection::Open(const std::string& address, int port) {
    CheckUsable();
    const auto& api = TnetSocketApi::Get();
    sockaddr_storage target;
    int length = 0;
    if (!ParseNumericAddress(address, port, target, length))
        RaiseOwn(kNetInvalidAddress);
    CloseSocket();
    FIsAborted = false;
    ResetEvent(FAbortEvent);
    ResetEvent(FSocketEvent);
    FAddressFamily = target.ss_family;
    FSocket = api.socket(FAddressFamily, SOCK_STREAM, IPPROTO_TCP);
    if (FSocket == INVALID_SOCKET)
        RaiseSocketError(LastSocketError());
    // Only the connect's completion wakes the wait until the socket is connected.
    if (api.WSAEventSelect(FSocket, FSocketEvent, FD_CONNECT) != 0)
        RaiseSocketError(LastSocketError());
    FNetworkStream->FPeerIP = address;
    FNetworkStream->FPeerPort = port;
    FNetworkStream->OpenClientSession();
    StartOperation();
    if (api.connect(FSocket, reinterpret_cast<const sockaddr*>(&target), length) != 0) {
        int error = LastSocketError();
        if (error != WSAEWOULDBLOCK)
            RaiseSocketError(error);
        for (;;) {
            if (!WaitForSocketEvent()) {
                // Aborted: a handler may have closed the socket meanwhile, so nothing more is asked of it.
                if (FIsAborted) {
                    CloseSocket();
                    RaiseOwn(kNetConnectionLost);
                }
                continue;
            }
            WSANETWORKEVENTS events{};
            if (api.WSAEnumNetworkEvents(FSocket, FSocketEvent, &events) != 0)
                RaiseSocketError(LastSocketError());
            if (events.lNetworkEvents & FD_CONNECT) {
                if (events.iErrorCode[FD_CONNECT_BIT] != 0)
                    RaiseSocketError(events.iErrorCode[FD_CONNECT_BIT]);
                break;
            }
        }
    }
    if (api.WSAEventSelect(FSocket, FSocketEvent, FD_READ | FD_WRITE | FD_CLOSE) != 0)
        RaiseSocketError(LastSocketError());
    if (FIsAborted) {
        CloseSocket();
        RaiseOwn(kNetConnectionLost);
    }
    FActive = true;
    OpenSession();
    if (!FActive)
        RaiseOwn(kNetConnectionLost);
    sockaddr_storage local{};
    int localLength = sizeof local;
    if (api.getsockname(FSocket, reinterpret_cast<sockaddr*>(&local), &localLength) == 0)
        FLocalIP = AddressText(reinterpret_cast<const sockaddr*>(&local), &FLocalPort);
}

void TnetTcpClientConnection::OpenSession() {
    ProcessPendingActions();
}

void TnetTcpClientConnection::StartSessionOnOpenConnection(std::unique_ptr<TnetNetworkStream> stream) {
    CheckUsable();
    stream->FPeerIP = FNetworkStream ? FNetworkStream->FPeerIP : std::string();
    stream->FPeerPort = FNetworkStream ? FNetworkStream->FPeerPort : 0;
    FNetworkStream = std::move(stream);
    FNetworkStream->OpenClientSession();
    StartOperation();
    OpenSession();
    if (!FActive)
        RaiseOwn(kNetConnectionLost);
}

// --- TnetTcpClient -------------------------------------------------------------------------------

TnetTcpClient::TnetTcpClient(TComponent* owner)
    : TComponent(owner), FConnection(std::make_unique<TnetTcpClientConnection>()) {
    TnetSocketApi::Get();
}

TnetTcpClient::~TnetTcpClient() {
    FConnection->Close(true);
}

std::unique_ptr<TnetNetworkStream> TnetTcpClient::CreateNetworkStream(TnetConnection& connection) {
    return std::make_unique<TnetNetworkStream>(connection);
}

void TnetTcpClient::Open() {
    if (Active())
        return;
    if (BatchSize < 1)
        RaiseOwn(kNetInvalidBatchSize);
    FConnection->SetBatchSize(BatchSize);
    FConnection->SetTimeOut(TimeOut);
    try {
        FConnection->SetNetworkStream(CreateNetworkStream(*FConnection));
        std::string address = ResolveServerAddress(Narrow(Server));
        FConnection->Open(address, Port);
    } catch (...) {
        FConnection->Close(false);
        throw;
    }
}

void TnetTcpClient::Close() {
    FConnection->Close(true);
}

}  // namespace memoline
