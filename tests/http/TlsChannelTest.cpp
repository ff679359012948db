// The secure channel against TLS peers made with Python's ssl module (started by a CTest fixture,
// their CA trusted in the prefix's machine Root store): the handshake, records in every split, the
// close notice in both directions, and each way a server is refused.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/ErrorText.h"
#include "http/NetErrors.h"
#include "http/NetHttp.h"
#include "http/NetTcpClientTls.h"

#ifndef MEMOLINE_TLS_PEER_DIR
#error MEMOLINE_TLS_PEER_DIR must name the folder of the TLS peers
#endif

namespace memoline {
namespace {

const std::string kPeerDir = MEMOLINE_TLS_PEER_DIR;

int PeerPort(const std::string& mode) {
    std::ifstream in(kPeerDir + "/ports.txt");
    std::string name;
    int port = 0;
    while (in >> name >> port) {
        if (name == mode)
            return port;
    }
    ADD_FAILURE() << "no TLS peer " << mode << " in " << kPeerDir;
    return 0;
}

std::vector<std::string> PeerLog(const std::string& mode) {
    std::ifstream in(kPeerDir + "/peers.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(mode + " ", 0) == 0)
            lines.push_back(line.substr(mode.size() + 1));
    }
    return lines;
}

// The peer's report on the connection after the `seen` earlier ones (waits for it).
std::string NextPeerReport(const std::string& mode, size_t seen) {
    for (int i = 0; i < 200; ++i) {
        auto lines = PeerLog(mode);
        if (lines.size() > seen)
            return lines[seen];
        Sleep(50);
    }
    return "(no report)";
}

struct TlsClient {
    explicit TlsClient(const std::string& mode) {
        client.Server = L"localhost";
        client.Port = PeerPort(mode);
        client.UseTLS = TnetClientTlsMode::ctImplicit;
        client.TLSFlags = kHttpDefaultTlsFlags;
        client.TimeOut = 10000;
    }
    void Send(const std::string& bytes) {
        TnetStringStream source(bytes);
        client.Connection().WriteData(&source);
    }
    std::string Receive(size_t count) {
        TnetStringStream target;
        while (target.DataString().size() < count && client.Active())
            client.Connection().ReadData(&target);
        return target.DataString();
    }
    TnetTcpClientTls client;
};

std::string Pattern(size_t size) {
    std::string unit;
    for (int i = 0; i < 256; ++i)
        unit += static_cast<char>(i);
    std::string result;
    while (result.size() < size)
        result += unit;
    result.resize(size);
    return result;
}

TEST(TlsChannel, HandshakeEchoAndCloseNotice) {
    size_t seen = PeerLog("echo").size();
    TlsClient c("echo");
    c.client.Open();
    ASSERT_TRUE(c.client.Active());
    auto* stream = dynamic_cast<TnetTlsNetworkStream*>(c.client.Connection().NetworkStream());
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(stream->PeerVerified());
    EXPECT_EQ(stream->State(), TnetTlsState::tsOpen);
    // A full record of one batch fits one read: room for the record's header and trailer.
    EXPECT_GT(stream->ReadBatchSize(8192), 8192u);
    // Larger than one batch, so the request leaves as several records.
    std::string payload = Pattern(50'000);
    c.Send(payload);
    std::string echo = c.Receive(payload.size());
    EXPECT_EQ(echo.size(), payload.size());
    EXPECT_TRUE(echo == payload);
    c.client.Close();
    EXPECT_FALSE(c.client.Active());
    EXPECT_EQ(NextPeerReport("echo", seen), "received 50000 notice");
}

struct RefusedServer {
    const char* mode;
    long code;
    const wchar_t* text;
};

TEST(TlsChannel, RefusedServersFailTheOpenWithTheirTextAndNothingIsSent) {
    const RefusedServer cases[] = {
        {"untrusted-chain", static_cast<long>(0x800B0109),
         L"A certificate chain processed correctly, but terminated in a root certificate which is not trusted by "
         L"the trust provider"},
        // The server sends only its leaf: no path to any root. Never trusted.
        {"untrusted-leaf", static_cast<long>(0x800B010A), L"An internal certificate chaining error has occurred"},
        {"other-host", static_cast<long>(0x800B010F), L"The certificate's CN name does not match the passed value"},
        {"expired", static_cast<long>(0x800B0101),
         L"A required certificate is not within its validity period when verifying against the current system "
         L"clock or the timestamp in the signed file"},
        // The right host and a trusted CA, but a certificate for client sign-in only.
        {"client-only", static_cast<long>(0x800B0110), L"The certificate is not valid for the requested usage"},
    };
    for (const auto& server : cases) {
        SCOPED_TRACE(server.mode);
        size_t seen = PeerLog(server.mode).size();
        TlsClient c(server.mode);
        try {
            c.client.Open();
            ADD_FAILURE() << "open succeeded";
        } catch (const EnetSSPIError& e) {
            ADD_FAILURE() << "a provider failure instead of the server check: " << e.what();
        } catch (const EnetSocketError& e) {
            EXPECT_EQ(e.ErrorCode(), static_cast<int>(server.code));
            EXPECT_EQ(e.Message(), server.text);
        }
        EXPECT_FALSE(c.client.Active());
        EXPECT_EQ(NextPeerReport(server.mode, seen), "received 0");
    }
}

TEST(TlsChannel, ServerWithOnlyTls10FailsTheHandshakeBeforeAnyRequestByte) {
    size_t seen = PeerLog("tls10").size();
    TlsClient c("tls10");
    try {
        c.client.Open();
        FAIL() << "open succeeded";
    } catch (const EnetError& e) {
        // Windows says no common algorithm; Wine's provider reports 0x80090304 for the same case.
        const int noCommonAlgorithm = static_cast<int>(0x80090331);
        const int wineCode = static_cast<int>(0x80090304);
        EXPECT_TRUE(e.ErrorCode() == noCommonAlgorithm || e.ErrorCode() == wineCode) << std::hex << e.ErrorCode();
        EXPECT_EQ(e.Message(), SspiErrorText(e.ErrorCode()));
        EXPECT_NE(e.Message().find(L"The "), std::wstring::npos);  // a table text, not the unknown-code text
        EXPECT_EQ(e.Message().find(L"unknown error"), std::wstring::npos);
    }
    EXPECT_FALSE(c.client.Active());
    std::string report = NextPeerReport("tls10", seen);
    EXPECT_TRUE(report.rfind("handshake-failed", 0) == 0 || report == "received 0") << report;
}

// The form-post client as the catalogue request makes it, with its own default TLS settings: a
// server that offers only TLS 1.0 is refused before a byte of the request (and its password) is sent.
TEST(TlsChannel, FormPostClientWithItsDefaultsRefusesATls10OnlyServer) {
    size_t seen = PeerLog("tls10").size();
    TnetHttp http;
    http.TimeOut = 10000;
    TnetHttpRequest request;
    request.AddFormField(L"system_password", L"secret");
    TnetStringList lines = {L"untouched"};
    int code = 0;
    try {
        http.Post(L"https://localhost:" + std::to_wstring(PeerPort("tls10")) + L"/catalogue", &request, lines);
    } catch (const EnetError& e) {
        code = e.ErrorCode();
    }
    EXPECT_TRUE(code == static_cast<int>(0x80090331) || code == static_cast<int>(0x80090304)) << std::hex << code;
    EXPECT_EQ(lines, TnetStringList{L"untouched"});
    std::string report = NextPeerReport("tls10", seen);
    EXPECT_TRUE(report.rfind("handshake-failed", 0) == 0 || report == "received 0") << report;
}

TEST(TlsChannel, OptionalClientCertificateRequestContinuesWithoutOne) {
    TlsClient c("client-cert");
    c.client.Open();
    c.Send("ping");
    EXPECT_EQ(c.Receive(4), "ping");
}

TEST(TlsChannel, ApplicationDataWithTheLastHandshakeMessageReachesTheFirstRead) {
    TlsClient c("greeting");
    c.client.TimeOut = 3000;  // a lost greeting shows as a time-out
    c.client.Open();
    const std::string greeting = "greeting sent with the handshake\n";
    EXPECT_EQ(c.Receive(greeting.size()), greeting);
    c.Send("after");
    EXPECT_EQ(c.Receive(5), "after");
}

TEST(TlsChannel, LargeBodyInRecordsOfEverySizeArrivesIntactAndTheCloseNoticeEndsIt) {
    for (int batch : {8192, 700}) {
        SCOPED_TRACE(batch);
        TlsClient c("big");
        c.client.BatchSize = batch;
        c.client.Open();
        const size_t size = 300'000;
        c.Send(std::to_string(size) + "\n");
        TnetStringStream target;
        c.client.Connection().SetReadUntilClose(true);
        c.client.Connection().ReadData(&target);
        std::string expected = Pattern(size);
        EXPECT_EQ(target.DataString().size(), 2 * size);
        EXPECT_TRUE(target.DataString() == expected + expected);
        EXPECT_FALSE(c.client.Active());
    }
}

TEST(TlsChannel, ServerCloseNoticeEndsTheConnectionAfterTheDataBeforeIt) {
    TlsClient c("close-notice");
    c.client.TimeOut = 5000;  // the server keeps TCP open: only the notice can end the read
    c.client.Open();
    TnetStringStream target;
    c.client.Connection().SetReadUntilClose(true);
    c.client.Connection().ReadData(&target);
    EXPECT_EQ(target.DataString(), "last line before the notice\n");
    EXPECT_FALSE(c.client.Active());
    TnetStringStream more;
    EXPECT_THROW(c.client.Connection().ReadData(&more), EnetSocketError);
}

// A body that lasts until the close is whole only when the server's close notice ends it: a bare TCP
// close could be anybody's cut. With a length the bare close after the whole body is fine.
TEST(TlsChannel, ABodyEndedByTheCloseNeedsTheCloseNotice) {
    struct {
        const char* peer;
        const wchar_t* path;
        int code;  // 0: the lines arrive
    } cases[] = {
        {"bare-close", L"/close-delimited", kNetSessionTruncated},
        {"notice-close", L"/close-delimited", 0},
        {"bare-close", L"/with-length", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.peer) + " " + std::string(c.path, c.path + wcslen(c.path)));
        TnetHttp http;
        http.TimeOut = 10000;
        TnetHttpRequest request;
        request.AddFormField(L"system_password", L"secret");
        TnetStringList lines;
        int code = 0;
        try {
            http.Post(L"https://localhost:" + std::to_wstring(PeerPort(c.peer)) + c.path, &request, lines);
        } catch (const EnetError& e) {
            code = e.ErrorCode();
        }
        EXPECT_EQ(code, c.code);
        if (c.code == 0)
            EXPECT_EQ(lines, (TnetStringList{L"first line", L"second line"}));
    }
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A server may ask for a new handshake at any point of an answer (IIS and Apache do when a path wants a
// client certificate): the handshake runs inside the read, the answer arrives whole and in order, and
// the same connection carries the next request; a request for a client certificate in the new
// handshake is answered without one. Wine's provider cannot start a client's new handshake (it wants
// input that only comes after the client's hello): there the request fails at once with its own text,
// instead of waiting for the time-out.
TEST(TlsChannel, ANewHandshakeAtAnyPointOfTheAnswerKeepsTheAnswerWholeAndTheConnection) {
    const bool providerCannotRenegotiate = UnderWine();
    TnetStringList expected;
    for (int i = 1; i <= 40; ++i)
        expected.push_back(L"line " + std::to_wstring(i) + L" of the answer");
    for (const std::string peer : {"renegotiate", "renegotiate-cert"}) {
        for (const std::string point : {"before", "header", "between", "body"}) {
            SCOPED_TRACE(peer + " /" + point);
            const std::wstring base = L"https://localhost:" + std::to_wstring(PeerPort(peer));
            const size_t seen = PeerLog(peer).size();
            TnetHttp http;
            http.TimeOut = 10000;
            for (const std::string path : {"/" + point, std::string("/plain")}) {
                TnetHttpRequest request;
                request.AddFormField(L"system_password", L"secret");
                TnetStringList lines;
                int code = 0;
                std::wstring text;
                try {
                    http.Post(base + std::wstring(path.begin(), path.end()), &request, lines);
                } catch (const EnetError& e) {
                    code = e.ErrorCode();
                    text = e.Message();
                }
                if (providerCannotRenegotiate && path != "/plain") {
                    EXPECT_EQ(code, kSspiRenegotiationNotStarted) << path;
                    EXPECT_EQ(text, L"The server asked for a new secure handshake, which could not be started");
                    continue;
                }
                EXPECT_EQ(code, 0) << path << ": " << std::string(text.begin(), text.end());
                EXPECT_EQ(lines, expected) << path;
            }
            if (providerCannotRenegotiate) {
                // The failed connection was given up; the next request came on a new one.
                EXPECT_EQ(NextPeerReport(peer, seen + 1), "answered /plain renegotiations 0");
                continue;
            }
            // One new handshake, and the second answer came on the same connection.
            EXPECT_EQ(NextPeerReport(peer, seen), "answered /" + point + " renegotiations 1");
            EXPECT_EQ(NextPeerReport(peer, seen + 1), "answered /plain renegotiations 1");
        }
    }
}

// The peers' leaves name a CRL: served on loopback and listing "revoked", or on a port where nobody
// listens. The client posts as the catalogue request does.
TEST(TlsChannel, ARevokedServerIsRefusedWithTheSystemsTextBeforeAnyByteIsSent) {
    size_t seen = PeerLog("revoked").size();
    TnetHttp http;
    http.TimeOut = 20000;
    std::vector<std::wstring> notices;
    http.OnSecurityNotice = [&](const std::wstring& text) { notices.push_back(text); };
    TnetHttpRequest request;
    request.AddFormField(L"system_password", L"secret");
    TnetStringList lines = {L"untouched"};
    try {
        http.Post(L"https://localhost:" + std::to_wstring(PeerPort("revoked")) + L"/catalogue", &request, lines);
        ADD_FAILURE() << "the post succeeded";
    } catch (const EnetError& e) {
        EXPECT_EQ(e.ErrorCode(), static_cast<int>(0x80092010));
        EXPECT_EQ(e.Message(), L"The certificate is revoked");
    }
    EXPECT_EQ(lines, TnetStringList{L"untouched"});
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(NextPeerReport("revoked", seen), "received 0");
}

TEST(TlsChannel, AServerWhoseCrlCannotBeReachedIsAcceptedAndReported) {
    TnetHttp http;
    http.TimeOut = 20000;
    std::vector<std::wstring> notices;
    http.OnSecurityNotice = [&](const std::wstring& text) { notices.push_back(text); };
    TnetHttpRequest request;
    request.AddFormField(L"system_password", L"secret");
    TnetStringList lines;
    http.Post(L"https://localhost:" + std::to_wstring(PeerPort("crl-offline")) + L"/with-length", &request, lines);
    EXPECT_EQ(lines, (TnetStringList{L"first line", L"second line"}));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0],
              L"The certificate of localhost was accepted without a revocation check: The revocation "
              L"function was unable to check revocation because the revocation server was offline");
}

TEST(TlsChannel, ChainStatusAndPolicyVerdictGiveTheServerChecksVerdict) {
    const long revoked = static_cast<long>(0x80092010);
    const long offline = static_cast<long>(0x80092013);
    const long noCheck = static_cast<long>(0x80092012);
    const long untrustedRoot = static_cast<long>(0x800B0109);
    const long chaining = static_cast<long>(0x800B010A);
    const long wineRevocationFailure = static_cast<long>(0x800B010E);
    struct {
        DWORD chainStatus;
        long policy;
        bool revocationChecked;
        bool ignoreUnknownAuthority;
        long verdict;
        long unchecked;
    } cases[] = {
        {0, 0, true, false, 0, 0},
        {CERT_TRUST_IS_REVOKED, 0, true, false, revoked, 0},
        // Revoked wins over whatever else the policy found.
        {CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_UNTRUSTED_ROOT, untrustedRoot, true, false, revoked, 0},
        {CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_REVOCATION_STATUS_UNKNOWN, 0, true, false, 0, offline},
        {CERT_TRUST_REVOCATION_STATUS_UNKNOWN, 0, true, false, 0, noCheck},
        // A policy that still names the unreachable CRL does not refuse for it (Wine's text for it).
        {CERT_TRUST_IS_OFFLINE_REVOCATION, wineRevocationFailure, true, false, 0, offline},
        {CERT_TRUST_REVOCATION_STATUS_UNKNOWN, untrustedRoot, true, false, untrustedRoot, noCheck},
        {CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_REVOCATION_STATUS_UNKNOWN, 0, true, false, chaining, noCheck},
        {CERT_TRUST_IS_PARTIAL_CHAIN, 0, true, true, 0, 0},
        // Revocation not asked for: the policy's verdict stands.
        {0, 0, false, false, 0, 0},
        {0, untrustedRoot, false, false, untrustedRoot, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.chainStatus << " " << c.policy << " " << c.revocationChecked);
        const TnetChainVerdict v =
            JudgeServerChain(c.chainStatus, c.policy, c.revocationChecked, c.ignoreUnknownAuthority);
        EXPECT_EQ(v.Verdict, c.verdict);
        EXPECT_EQ(v.UncheckedRevocation, c.unchecked);
    }
}

TEST(TlsChannel, ProtocolFlagsAndIgnoredChecksMapToTheProviderBits) {
    using F = TnetTlsFlag;
    struct {
        TnetTlsFlags flags;
        DWORD bits;
    } protocols[] = {
        {kHttpDefaultTlsFlags, 0x800},
        {{F::tfUseSSL3, F::tfUseTLS, F::tfUseTLS11, F::tfUseTLS12}, 0xAA0},
        {{F::tfUseSSL2, F::tfUseSSL3}, 0x28},
        {{F::tfUseSSL2, F::tfUseTLS12}, 0x800},  // SSL 2.0 never beside TLS 1.2
        {{F::tfUseTLS}, 0x80},
        {{F::tfUseTLS11}, 0x200},
    };
    for (const auto& c : protocols)
        EXPECT_EQ(EnabledProtocols(c.flags), c.bits);
    using C = TnetCertificateVerifyFlag;
    EXPECT_EQ(IgnoredChecks({}), 0u);
    EXPECT_EQ(IgnoredChecks({C::cfIgnoreCommonNameInvalid}), 0x1000u);
    EXPECT_EQ(IgnoredChecks({C::cfIgnoreDateInvalid, C::cfIgnoreUnknownAuthority}), 0x2100u);
    EXPECT_EQ(IgnoredChecks({C::cfIgnoreRevocation, C::cfIgnoreWrongUsage}), 0x280u);
}

TEST(TlsChannel, FailureTextsForKnownUnknownAndOwnCodes) {
    EXPECT_EQ(SspiErrorText(static_cast<int>(0x80090331)),
              L"The client and server cannot communicate because they do not possess a common algorithm");
    EXPECT_EQ(SspiErrorText(static_cast<int>(0x80090326)), L"The message received was unexpected or badly formatted");
    EXPECT_EQ(SspiErrorText(static_cast<int>(0x80090325)),
              L"The certificate chain was issued by an authority that is not trusted");
    EXPECT_EQ(SspiErrorText(static_cast<int>(0x80090328)), L"The received certificate has expired");
    EXPECT_EQ(SspiErrorText(static_cast<int>(0x80090322)), L"The target principal name is incorrect");
    EXPECT_EQ(SspiErrorText(static_cast<int>(0x80092010)), L"The certificate is revoked");
    EXPECT_EQ(SspiErrorText(static_cast<int>(0x800B0112)).rfind(L"A certification chain processed correctly", 0), 0u);
    // A code outside the table takes the system's text, without its final full stop.
    const std::wstring system = ErrorText(5);
    ASSERT_FALSE(system.empty());
    EXPECT_EQ(SspiErrorText(5) + (system.back() == L'.' ? L"." : L""), system);
    EXPECT_EQ(SspiErrorText(static_cast<int>(0x8009FFF1)), L"The unknown error was occured: 8009fff1");
    EXPECT_EQ(SspiErrorText(-9), L"Error querying local certificate");
    EXPECT_EQ(SspiErrorText(-5), L"None of needed security package was found");
}

TEST(TlsChannel, DefaultSettings) {
    TnetTcpClientTls client;
    EXPECT_EQ(client.UseTLS, TnetClientTlsMode::ctNone);
    EXPECT_TRUE(client.TLSFlags == TnetTlsFlags{TnetTlsFlag::tfUseTLS});
    EXPECT_TRUE(client.CertificateFlags.Empty());
    EXPECT_EQ(client.TimeOut, 60000);
    EXPECT_EQ(client.BatchSize, 8192);
    EXPECT_EQ(ChooseSecurityPackage(), "Microsoft Unified Security Protocol Provider");
}

}  // namespace
}  // namespace memoline
