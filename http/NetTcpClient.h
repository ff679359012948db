// The synchronous TCP transport under the HTTP client: name resolution, a non-blocking connect,
// reads and writes in batches, and waits that keep dispatching the calling thread's window messages.
// Every failure is an EnetSocketError: a socket error code with the system's text, or one of the
// transport's own negative codes.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Component.h"
#include "core/Handles.h"
#include "core/WorkerCall.h"
#include "http/NetSocketApi.h"
#include "http/Stream.h"

namespace memoline {

// The transport's own failure codes.
inline constexpr int kNetTimeout = -1;           // "Timeout error occured"
inline constexpr int kNetInvalidAddress = -2;    // "Invalid host address"
inline constexpr int kNetInvalidBatchSize = -4;  // "Invalid Batch Size"
inline constexpr int kNetNoNetworkStream = -5;   // "NetworkStream is required"
inline constexpr int kNetConnectionLost = -6;    // "The connection to the server is not active"
// The socket code for a read on a connection the peer has closed.
inline constexpr int kNetNotSocket = WSAENOTSOCK;  // 10038

// Throws EnetSocketError with the text of one of the transport's own codes (an unknown one stands
// for kNetConnectionLost).
[[noreturn]] void RaiseTransportError(int code);

// Resolves a server name to one address text: a numeric IPv4 or IPv6 address unchanged (no
// lookup); otherwise the first IPv4 address of the system's lookup, else its first entry.
// `lookedUp` (optional) tells whether the lookup was asked. Throws EnetSocketError with the
// lookup's error code.
std::string ResolveServerAddress(const std::string& server, bool* lookedUp = nullptr);

// Every address the name resolves to, each once, in the order they are tried: the IPv4 ones first
// (in the system's order), then the rest. A numeric address is the one entry, without a lookup.
// Blocks for as long as the system's lookup takes. Throws EnetSocketError with the lookup's code.
std::vector<std::string> ResolveServerAddresses(const std::string& server, bool* lookedUp = nullptr);

// The step the network stream needs next from its connection.
enum class TnetNetworkStreamAction {
    saNone,   // nothing pending
    saRead,   // the stream waits for bytes from the peer (a handshake reply)
    saWrite,  // the stream has bytes to send (a handshake token or unsent protected data)
};

class TnetConnection;

// Performs the actual reads and writes of a connection. The plain stream passes bytes through;
// the TLS stream derives from it.
class TnetNetworkStream {
public:
    explicit TnetNetworkStream(TnetConnection& connection) : connection_(connection) {}
    virtual ~TnetNetworkStream() = default;
    TnetNetworkStream(const TnetNetworkStream&) = delete;
    TnetNetworkStream& operator=(const TnetNetworkStream&) = delete;

    // Runs just before the TCP connect.
    virtual void OpenClientSession() {}
    // Ends the session; with `notifyPeer` a stream with a close notice tries to send it once.
    virtual void CloseSession(bool /*notifyPeer*/) {}
    // Reads what the socket has and hands it (decoded) to `target`, or keeps it when `target`
    // is null. Sets NeedClose when the peer has closed.
    virtual void Read(TnetStream* target);
    // Sends `source` (may be null) from its position; returns false when the socket would block
    // with bytes still to send.
    virtual bool Write(TnetStream* source);
    // The largest raw read for a batch of `batchSize` payload bytes.
    virtual size_t ReadBatchSize(size_t batchSize) const { return batchSize; }
    // After the peer closed: whether it ended the session as the protocol does. A TCP close is the
    // plain stream's only end; a TLS stream needs the close notice.
    virtual bool PeerEndedSession() const { return true; }

    // Hands decoded bytes kept from an earlier read to `target`, up to the connection's byte limit.
    // Returns whether anything was handed over.
    bool DeliverPending(TnetStream* target);
    bool HasPending() const { return !pending_.empty(); }

    TnetNetworkStreamAction NextAction() const { return FNextAction; }
    bool HasReadData() const { return FHasReadData; }
    void SetHasReadData(bool value) { FHasReadData = value; }
    bool NeedClose() const { return FNeedClose; }
    int64_t BytesProceed() const { return FBytesProceed; }
    void ResetBytesProceed() { FBytesProceed = 0; }

    std::string FPeerIP;
    int FPeerPort = 0;

protected:
    // Hands decoded bytes to `target` (or keeps them), respecting the connection's byte limit.
    void Deliver(TnetStream* target, const char* data, size_t count);

    TnetConnection& connection_;
    TnetNetworkStreamAction FNextAction = TnetNetworkStreamAction::saNone;
    bool FHasReadData = false;
    bool FNeedClose = false;
    int64_t FBytesProceed = 0;

private:
    std::string pending_;
};

// What every connection has: the socket, the network stream, the batch size and the byte counters.
class TnetConnection {
public:
    TnetConnection();
    virtual ~TnetConnection();
    TnetConnection(const TnetConnection&) = delete;
    TnetConnection& operator=(const TnetConnection&) = delete;

    // Installs the stream for the next open, dropping the previous one.
    void SetNetworkStream(std::unique_ptr<TnetNetworkStream> stream);
    TnetNetworkStream* NetworkStream() const { return FNetworkStream.get(); }

    // Waits for data and appends what arrives to `target` (null: the stream keeps it).
    virtual void ReadData(TnetStream* target) = 0;
    // Sends `source` from its position to its end (null: only what the stream has pending).
    virtual void WriteData(TnetStream* source) = 0;
    // Stops a wait in progress and closes; `notifyPeer` sends the stream's close notice.
    virtual void Close(bool notifyPeer) = 0;

    // Resets the byte counters; `bytesToProceed` limits what the following reads move (-1: no limit).
    void InitProgress(int64_t totalBytes, int64_t bytesToProceed);
    bool LimitReached() const { return FBytesToProceed >= 0 && FTotalBytesProceed >= FBytesToProceed; }
    // How many more bytes the limit allows (SIZE_MAX without a limit).
    size_t Remaining() const;
    void CountBytes(size_t count) { FTotalBytesProceed += static_cast<int64_t>(count); }

    bool Active() const { return FActive; }
    bool IsAborted() const { return FIsAborted; }
    int BatchSize() const { return FBatchSize; }
    void SetBatchSize(int value) { FBatchSize = value; }
    bool IsReadUntilClose() const { return FIsReadUntilClose; }
    void SetReadUntilClose(bool value) { FIsReadUntilClose = value; }
    int64_t TotalBytesProceed() const { return FTotalBytesProceed; }

    // Runs a call that can wait on the network or another machine (a name lookup, a certificate
    // chain that fetches its issuers): here on the calling thread; a connection that keeps its
    // thread answering runs it elsewhere. `work` must own what it touches.
    virtual void RunBlockingCall(std::function<void()> work) { work(); }

    // Raw socket steps for the network stream. Send returns the bytes taken (0 when the socket
    // would block); Receive returns the bytes read, 0 when the peer has closed, -1 when the socket
    // would block. Other errors throw EnetSocketError.
    int Send(const char* data, int count);
    int Receive(char* buffer, int count);

protected:
    // Closes the socket without a word to the peer; the connection is then inactive.
    void CloseSocket();

    unique_socket FSocket;
    int FAddressFamily = AF_UNSPEC;
    std::unique_ptr<TnetNetworkStream> FNetworkStream;
    int FBatchSize = 8192;
    bool FActive = false;
    bool FIsAborted = false;
    int64_t FTotalBytes = 0;
    int64_t FTotalBytesProceed = 0;
    int64_t FBytesToProceed = -1;
    bool FIsReadUntilClose = false;
};

// A connection whose waits go through one socket event object and an abort event, with the
// inactivity time-out per operation, dispatching window messages while waiting.
class TnetSyncConnection : public TnetConnection {
public:
    // Throws EnetSocketError when the event objects cannot be made.
    TnetSyncConnection();

    void ReadData(TnetStream* target) override;
    void WriteData(TnetStream* source) override;

    int TimeOut() const { return FTimeOut; }
    void SetTimeOut(int value) { FTimeOut = value; }
    // A limit for everything until it is set again, however the peer spreads its bytes: from now on
    // every wait fails with "Timeout error occured" once `milliseconds` have passed (0: no limit).
    // Opening the connection again keeps it.
    void SetTotalTimeOut(int milliseconds);
    // Signals the abort event: a wait in progress returns and the operation ends.
    void Abort();
    // Forgets an earlier Abort, before a new open.
    void ResetAbort();

    // On a worker thread while this thread handles its messages. It ends like a network wait: on
    // Abort or a quit request with "The connection to the server is not active" (-6), past the
    // operation's or the total time-out with "Timeout error occured" (-1); the given-up call then
    // finishes on its worker. What the call throws is raised here.
    void RunBlockingCall(std::function<void()> work) override;

protected:
    // One wait for the socket: the network events it reports, or none when the wait ended for
    // window messages (dispatched) so the caller checks its own state and waits again. Throws
    // "The connection to the server is not active" (-6) when aborted, "Timeout error occured" (-1)
    // when `FTimeOut` has passed since the operation's start, and the socket error reported with
    // any of the events.
    WSANETWORKEVENTS WaitForNetworkEvents();
    void CheckTimeOut() const;
    // Milliseconds left before the operation's or the total time-out, whichever comes first.
    ULONGLONG TimeLeft() const;
    void StartOperation();
    // Carries out the stream's requested read or write steps until none is pending.
    void ProcessPendingActions();
    // Closes the socket without a notice after the peer has closed.
    void CloseByPeer();
    void CheckUsable() const;

    unique_handle FSocketEvent;  // manual reset, bound to the socket by WSAEventSelect
    unique_handle FAbortEvent;   // auto reset: one Abort ends one wait
    int FTimeOut = 5000;
    ULONGLONG FTimeOutTicks = 0;
    ULONGLONG FDeadlineTicks = 0;  // the total time-out's end, 0 without one
    core::TWorkerCaller FWorker;

private:
    // Waits for the socket event; false when aborted or after dispatching window messages.
    bool WaitForSocketEvent();
    // The read steps of ReadData; each returns true when it closed the connection after the peer.
    bool ReadKeptData(TnetStream* target);
    bool ReadStep(TnetStream* target);
    bool CloseIfPeerDone();
    // Enough for this ReadData: something arrived for the caller, or the stream's read step is done.
    bool ReadSatisfied(const TnetStream* target, int64_t bytesBefore) const;
};

class TnetTcpConnection : public TnetSyncConnection {
public:
    void Close(bool notifyPeer) override;
    std::string FLocalIP;
    int FLocalPort = 0;
};

class TnetTcpClientConnection : public TnetTcpConnection {
public:
    // Connects to one of the resolved addresses and runs the stream's session start and pending
    // steps. The addresses are tried in turn until one connects; each gets an even share of the
    // connect's time-out still left, the last all of it. When none connects the last one's failure
    // is raised; an abort or the total time-out ends the attempts at once.
    void Open(const std::vector<std::string>& addresses, int port);
    void OpenSession();
    // Puts `stream` on the open connection and runs its session start (a TLS handshake inside a
    // proxy's tunnel, for one).
    void StartSessionOnOpenConnection(std::unique_ptr<TnetNetworkStream> stream);

private:
    // Opens the TCP connection to the first of `addresses` that takes it.
    void ConnectToOne(const std::vector<std::string>& addresses, int port);
    void ConnectTo(const std::string& address, int port);
    // Makes the socket for `target`'s family, its event reset and bound to connect completion.
    void CreateSocket(const sockaddr_storage& target);
    // The non-blocking connect and the wait for its completion.
    void Connect(const sockaddr_storage& target, int length);
    void RecordLocalAddress();
};

// The TCP client component: settings, open and close, and the one connection it owns.
class TnetTcpClient : public TComponent {
public:
    explicit TnetTcpClient(TComponent* owner = nullptr);
    ~TnetTcpClient() override;

    std::wstring Server;
    int Port = 0;
    int TimeOut = 60000;
    // The most one request may take from its start, in milliseconds; 0: no limit of its own.
    int RequestTimeOut = 0;
    int BatchSize = 8192;

    // Connects to Server:Port unless already connected. On failure the connection is closed and
    // the failure (EnetSocketError, or EnetSSPIError from a TLS stream) raised again.
    void Open();
    // Aborts a wait in progress and closes, with a close notice where the stream has one.
    void Close();
    // A request starts: RequestTimeOut counts from now, for every connect, read and write of it.
    void StartRequestClock();
    bool Active() const { return FConnection->Active(); }
    TnetTcpClientConnection& Connection() { return *FConnection; }

protected:
    // The stream for the next open: plain here; the TLS client returns its TLS stream.
    virtual std::unique_ptr<TnetNetworkStream> CreateNetworkStream(TnetConnection& connection);
    // The addresses to try for Server, looked up off this thread (ResolveServerAddresses).
    virtual std::vector<std::string> ResolveServer();

    std::unique_ptr<TnetTcpClientConnection> FConnection;
};

}  // namespace memoline
