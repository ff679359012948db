#include "http/NetTcpClient.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "core/MessagePump.h"
#include "http/NetErrors.h"
#include "http/NetSocketApi.h"

namespace memoline {

void RaiseTransportError(int code) {
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

void RaiseRequestGivenUp() {
    RaiseTransportError(kNetConnectionLost);
}

namespace {

[[noreturn]] void RaiseOwn(int code) {
    RaiseTransportError(code);
}

unique_handle MakeEvent(bool manualReset) {
    unique_handle event(CreateEventW(nullptr, manualReset, FALSE, nullptr));
    if (!event)
        RaiseSocketError(static_cast<int>(GetLastError()));
    return event;
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

// The server name without the brackets of an IPv6 address.
std::string HostName(const std::string& server) {
    if (server.size() > 2 && server.front() == '[' && server.back() == ']')
        return server.substr(1, server.size() - 2);
    return server;
}

bool IsNumericAddress(const std::string& name) {
    sockaddr_storage numeric;
    int length = 0;
    return ParseNumericAddress(name, 0, numeric, length);
}

}  // namespace

std::vector<std::string> ResolveServerAddresses(const std::string& server, bool* lookedUp) {
    const auto& api = TnetSocketApi::Get();
    const std::string name = HostName(server);
    if (lookedUp)
        *lookedUp = false;
    if (IsNumericAddress(name))
        return {name};
    if (lookedUp)
        *lookedUp = true;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    addrinfo* list = nullptr;
    int status = api.getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (status != 0)
        RaiseSocketError(status);
    std::vector<std::string> v4, others;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addr == nullptr || (entry->ai_family != AF_INET && entry->ai_family != AF_INET6))
            continue;
        std::vector<std::string>& into = entry->ai_family == AF_INET ? v4 : others;
        std::string text = AddressText(entry->ai_addr, nullptr);
        if (std::find(into.begin(), into.end(), text) == into.end())
            into.push_back(std::move(text));
    }
    api.freeaddrinfo(list);
    v4.insert(v4.end(), others.begin(), others.end());
    return v4;
}

std::string ResolveServerAddress(const std::string& server, bool* lookedUp) {
    const std::vector<std::string> addresses = ResolveServerAddresses(server, lookedUp);
    return addresses.empty() ? std::string() : addresses.front();
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
    if (FTotalBytesProceed >= FBytesToProceed)
        return 0;
    // A limit beyond 4 GiB does not fit the 32-bit build's size_t: no read is that large anyway.
    return static_cast<size_t>(std::min<int64_t>(FBytesToProceed - FTotalBytesProceed, INT32_MAX));
}

void TnetConnection::CloseSocket() {
    FSocket.reset();
    FActive = false;
}

int TnetConnection::Send(const char* data, int count) {
    int sent = TnetSocketApi::Get().send(FSocket.get(), data, count, 0);
    if (sent != SOCKET_ERROR)
        return sent;
    int error = LastSocketError();
    if (error == WSAEWOULDBLOCK)
        return 0;
    RaiseSocketError(error);
}

int TnetConnection::Receive(char* buffer, int count) {
    int received = TnetSocketApi::Get().recv(FSocket.get(), buffer, count, 0);
    if (received != SOCKET_ERROR)
        return received;
    int error = LastSocketError();
    if (error == WSAEWOULDBLOCK)
        return -1;
    RaiseSocketError(error);
}

// --- TnetSyncConnection --------------------------------------------------------------------------

TnetSyncConnection::TnetSyncConnection()
    // Manual reset, as WSACreateEvent makes it: WSAEnumNetworkEvents resets it.
    : FSocketEvent(MakeEvent(true)), FAbortEvent(MakeEvent(false)) {}

void TnetSyncConnection::Abort() {
    FIsAborted = true;
    SetEvent(FAbortEvent.get());
}

void TnetSyncConnection::ResetAbort() {
    FIsAborted = false;
    ResetEvent(FAbortEvent.get());
}

void TnetSyncConnection::StartOperation() {
    FTimeOutTicks = GetTickCount64();
}

void TnetSyncConnection::SetTotalTimeOut(int milliseconds) {
    FDeadlineTicks = milliseconds > 0 ? GetTickCount64() + static_cast<ULONGLONG>(milliseconds) : 0;
}

void TnetSyncConnection::CheckTimeOut() const {
    const ULONGLONG now = GetTickCount64();
    if (now - FTimeOutTicks > static_cast<ULONGLONG>(std::max(FTimeOut, 0)) ||
        (FDeadlineTicks != 0 && now >= FDeadlineTicks))
        RaiseOwn(kNetTimeout);
}

ULONGLONG TnetSyncConnection::TimeLeft() const {
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG elapsed = now - FTimeOutTicks;
    const ULONGLONG limit = static_cast<ULONGLONG>(std::max(FTimeOut, 0));
    ULONGLONG left = elapsed >= limit ? 0 : limit - elapsed;
    if (FDeadlineTicks != 0)
        left = std::min(left, now >= FDeadlineTicks ? 0 : FDeadlineTicks - now);
    return left;
}

void TnetSyncConnection::RunBlockingCall(std::function<void()> work) {
    if (FIsAborted)
        RaiseOwn(kNetConnectionLost);
    // The call is an operation of its own for the inactivity limit.
    const ULONGLONG saved = FTimeOutTicks;
    StartOperation();
    bool timedOut = false;
    core::TWorkerWait wait;
    wait.abandon = [&] { return FIsAborted || (timedOut = TimeLeft() == 0); };
    const core::TWorkerCallEnd end = FWorker.Run(std::move(work), wait);
    FTimeOutTicks = saved;
    if (end == core::TWorkerCallEnd::Done && !FIsAborted)
        return;
    if (timedOut && !FIsAborted)
        RaiseOwn(kNetTimeout);
    // A quit request ends the call as it ends a network wait.
    Abort();
    RaiseOwn(kNetConnectionLost);
}

void TnetSyncConnection::CheckUsable() const {
    if (!FNetworkStream)
        RaiseOwn(kNetNoNetworkStream);
    if (FBatchSize < 1)
        RaiseOwn(kNetInvalidBatchSize);
}

bool TnetSyncConnection::WaitForSocketEvent() {
    const ULONGLONG left = TimeLeft();
    if (left == 0)
        RaiseOwn(kNetTimeout);
    HANDLE handles[2] = {FSocketEvent.get(), FAbortEvent.get()};
    // QS_ALLINPUT also wakes for messages sent from other threads (Synchronize), which PeekMessage
    // then delivers; MWMO_INPUTAVAILABLE wakes for messages already queued before this wait too.
    DWORD result = MsgWaitForMultipleObjectsEx(2, handles, static_cast<DWORD>(std::min<ULONGLONG>(left, INFINITE - 1)),
                                               QS_ALLINPUT, MWMO_INPUTAVAILABLE);
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

WSANETWORKEVENTS TnetSyncConnection::WaitForNetworkEvents() {
    WSANETWORKEVENTS events{};
    // An aborted wait fails: returning empty-handed would let the caller wait again (each time with
    // a fresh time-out) or take what has arrived so far for the whole answer.
    if (FIsAborted)
        RaiseOwn(kNetConnectionLost);
    if (!WaitForSocketEvent()) {
        if (FIsAborted)
            RaiseOwn(kNetConnectionLost);
        return events;
    }
    if (TnetSocketApi::Get().WSAEnumNetworkEvents(FSocket.get(), FSocketEvent.get(), &events) != 0)
        RaiseSocketError(LastSocketError());
    for (int bit = 0; bit < FD_MAX_EVENTS; ++bit) {
        if ((events.lNetworkEvents & (1 << bit)) && events.iErrorCode[bit] != 0)
            RaiseSocketError(events.iErrorCode[bit]);
    }
    return events;
}

void TnetSyncConnection::CloseByPeer() {
    if (FNetworkStream) {
        try {
            FNetworkStream->CloseSession(false);
        } catch (const EnetError&) {
            // The peer is gone; nothing is left to report about the session.
        }
    }
    CloseSocket();
}

void TnetSyncConnection::ReadData(TnetStream* target) {
    CheckUsable();
    StartOperation();
    const int64_t before = FTotalBytesProceed;
    bool closedHere = ReadKeptData(target);
    while (!closedHere && !LimitReached() && !ReadSatisfied(target, before)) {
        if (!FActive)
            RaiseSocketError(kNetNotSocket);
        const WSANETWORKEVENTS events = WaitForNetworkEvents();
        // A handshake token that a read made (the server asked for a new handshake) and the socket
        // did not take at once goes out as soon as it can.
        if ((events.lNetworkEvents & FD_WRITE) && FNetworkStream->NextAction() == TnetNetworkStreamAction::saWrite)
            FNetworkStream->Write(nullptr);
        if ((events.lNetworkEvents & (FD_READ | FD_CLOSE)) == 0)
            continue;
        closedHere = ReadStep(target);
        if (FIsReadUntilClose)
            StartOperation();  // the time-out is per piece while reading until close
    }
    ProcessPendingActions();
}

bool TnetSyncConnection::ReadKeptData(TnetStream* target) {
    FNetworkStream->DeliverPending(target);
    if (CloseIfPeerDone())
        return true;
    // Data that arrived while a write was waiting is read at once.
    if (FNetworkStream->HasReadData() && FActive) {
        FNetworkStream->SetHasReadData(false);
        return ReadStep(target);
    }
    return false;
}

bool TnetSyncConnection::ReadStep(TnetStream* target) {
    FNetworkStream->Read(target);
    return CloseIfPeerDone();
}

bool TnetSyncConnection::CloseIfPeerDone() {
    if (!FNetworkStream->NeedClose() || FNetworkStream->HasPending() || !FActive)
        return false;
    CloseByPeer();
    return true;
}

bool TnetSyncConnection::ReadSatisfied(const TnetStream* target, int64_t bytesBefore) const {
    if (FIsReadUntilClose)
        return false;
    if (target != nullptr)
        return FTotalBytesProceed > bytesBefore;
    return FNetworkStream->NextAction() != TnetNetworkStreamAction::saRead;
}

void TnetSyncConnection::WriteData(TnetStream* source) {
    CheckUsable();
    StartOperation();
    TnetNetworkStream& stream = *FNetworkStream;
    if (!FActive)
        RaiseSocketError(kNetNotSocket);
    if (!stream.Write(source)) {
        for (;;) {
            const WSANETWORKEVENTS events = WaitForNetworkEvents();
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

void TnetTcpClientConnection::Open(const std::vector<std::string>& addresses, int port) {
    CheckUsable();
    FNetworkStream->OpenClientSession();
    ConnectToOne(addresses, port);
    if (TnetSocketApi::Get().WSAEventSelect(FSocket.get(), FSocketEvent.get(), FD_READ | FD_WRITE | FD_CLOSE) != 0)
        RaiseSocketError(LastSocketError());
    if (FIsAborted) {
        CloseSocket();
        RaiseOwn(kNetConnectionLost);
    }
    FActive = true;
    StartOperation();
    OpenSession();
    if (!FActive)
        RaiseOwn(kNetConnectionLost);
    RecordLocalAddress();
}

void TnetTcpClientConnection::ConnectToOne(const std::vector<std::string>& addresses, int port) {
    if (addresses.empty())
        RaiseOwn(kNetInvalidAddress);
    const int whole = FTimeOut;
    const ULONGLONG start = GetTickCount64();
    std::exception_ptr failure;
    for (size_t i = 0; i < addresses.size(); ++i) {
        const ULONGLONG spent = GetTickCount64() - start;
        const ULONGLONG left = spent < static_cast<ULONGLONG>(std::max(whole, 0)) ? whole - spent : 0;
        // A dead address that swallows its packets costs only its share; one that refuses costs nothing.
        FTimeOut = static_cast<int>(left / (addresses.size() - i));
        try {
            ConnectTo(addresses[i], port);
            FTimeOut = whole;
            return;
        } catch (const EnetSocketError&) {
            FTimeOut = whole;
            CloseSocket();
            if (FIsAborted || (FDeadlineTicks != 0 && GetTickCount64() >= FDeadlineTicks))
                throw;
            failure = std::current_exception();
        }
    }
    std::rethrow_exception(failure);
}

void TnetTcpClientConnection::ConnectTo(const std::string& address, int port) {
    sockaddr_storage target;
    int length = 0;
    if (!ParseNumericAddress(address, port, target, length))
        RaiseOwn(kNetInvalidAddress);
    CreateSocket(target);
    FNetworkStream->FPeerIP = address;
    FNetworkStream->FPeerPort = port;
    StartOperation();
    Connect(target, length);
}

void TnetTcpClientConnection::CreateSocket(const sockaddr_storage& target) {
    const auto& api = TnetSocketApi::Get();
    CloseSocket();
    ResetEvent(FSocketEvent.get());
    FAddressFamily = target.ss_family;
    FSocket.reset(api.socket(FAddressFamily, SOCK_STREAM, IPPROTO_TCP));
    if (!FSocket)
        RaiseSocketError(LastSocketError());
    // Only the connect's completion wakes the wait until the socket is connected.
    if (api.WSAEventSelect(FSocket.get(), FSocketEvent.get(), FD_CONNECT) != 0)
        RaiseSocketError(LastSocketError());
}

void TnetTcpClientConnection::Connect(const sockaddr_storage& target, int length) {
    if (TnetSocketApi::Get().connect(FSocket.get(), reinterpret_cast<const sockaddr*>(&target), length) == 0)
        return;
    const int error = LastSocketError();
    if (error != WSAEWOULDBLOCK)
        RaiseSocketError(error);
    // An abort fails the wait (the client then closes the socket); a connect error comes with
    // FD_CONNECT and fails it too.
    for (;;) {
        if (WaitForNetworkEvents().lNetworkEvents & FD_CONNECT)
            return;
    }
}

void TnetTcpClientConnection::RecordLocalAddress() {
    sockaddr_storage local{};
    int localLength = sizeof local;
    if (TnetSocketApi::Get().getsockname(FSocket.get(), reinterpret_cast<sockaddr*>(&local), &localLength) == 0)
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
    // An earlier close or abort is over: this open starts afresh.
    FConnection->ResetAbort();
    try {
        FConnection->SetNetworkStream(CreateNetworkStream(*FConnection));
        FConnection->Open(ResolveServer(), Port);
    } catch (...) {
        FConnection->Close(false);
        throw;
    }
}

void TnetTcpClient::Close() {
    FConnection->Close(true);
}

void TnetTcpClient::StartRequestClock() {
    FConnection->SetTotalTimeOut(RequestTimeOut);
}

std::vector<std::string> TnetTcpClient::ResolveServer() {
    // The lookup can wait seconds on a slow or unreachable name server: off this thread, with inputs
    // and outputs of its own so a given-up lookup touches nothing of this client.
    struct TLookup {
        std::string name;
        std::vector<std::string> addresses;
    };
    auto lookup = std::make_shared<TLookup>();
    lookup->name = Narrow(Server);
    if (IsNumericAddress(HostName(lookup->name)))
        return ResolveServerAddresses(lookup->name);  // nothing to look up, no thread for it
    FConnection->RunBlockingCall([lookup] { lookup->addresses = ResolveServerAddresses(lookup->name); });
    return lookup->addresses;
}

}  // namespace memoline
