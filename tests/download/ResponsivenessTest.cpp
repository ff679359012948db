// The engine's waits on the server never hold the UI thread: a trickling body, a server that accepts
// and never answers, and Cancel while the engine waits.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/download/DownloadFixture.h"
#include "tests/support/CannedReply.h"
#include "tests/support/DuringWait.h"
#include "tests/support/ResponsivenessProbe.h"

namespace memoline::test {
namespace {

// Noise allowance for a loaded machine; an idle one stays far below.
constexpr DWORD kStallBoundMs = 500;

// Accepts the request and sends nothing, keeping the connection.
CannedReply SilentReply() {
    CannedReply reply;
    reply.holdOpen = true;
    return reply;
}

TEST_F(DownloadTest, TricklingBodyKeepsTheWindowAnsweringAndTheProgressMoving) {
    // 6 KiB at about 2 KiB/s: 256-byte pieces every 125 ms.
    CannedReply reply = OkReply(PatternBody(6 * 1024));
    reply.pieceSize = 256;
    reply.pieceDelayMs = 125;
    server_.Route("/Setup.exe", reply);
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    ResponsivenessProbe probe;
    Run();
    std::printf("trickling download: longest UI stall %lu ms over %u answers\n", probe.LongestStallMs(),
                probe.Answers());
    EXPECT_LT(probe.LongestStallMs(), kStallBoundMs);
    EXPECT_TRUE(d_.Items()[0]->Success());
    // What has arrived is taken: the dialog moves several times a second, not once per 64 KiB.
    EXPECT_GE(events_.received.size(), 8u);
}

TEST_F(DownloadTest, SilentServerFailsAfterTheTimeOutWhileTheWindowAnswers) {
    server_.Route("/Setup.exe", SilentReply());
    AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
    d_.Timeout = 1;
    ResponsivenessProbe probe;
    const ULONGLONG start = GetTickCount64();
    Run();
    const ULONGLONG took = GetTickCount64() - start;
    std::printf("silent download server: longest UI stall %lu ms, failed after %llu ms\n", probe.LongestStallMs(),
                took);
    EXPECT_LT(probe.LongestStallMs(), kStallBoundMs);
    EXPECT_LT(took, 30000u);
    EXPECT_EQ(Joined(events_.lines),
              Joined({L"FileStart 0", L"URLNotFound " + server_.Url("/Setup.exe"), L"FileDone 0", L"CopyDone"}));
    EXPECT_FALSE(d_.Items()[0]->Success());
}

TEST_F(DownloadTest, CancelWorksAtOnceWhileTheServerIsSilent) {
    for (bool duringBody : {false, true}) {
        SCOPED_TRACE(duringBody ? "during the body" : "before the answer");
        CannedReply reply = OkReply(PatternBody(1 << 20));
        reply.body.resize(duringBody ? 1000 : 0);
        reply.head = duringBody ? reply.head : std::string();
        reply.holdOpen = true;
        server_.Route("/Setup.exe", reply);
        AddItem(server_.Url("/Setup.exe"), L"Setup.exe");
        events_ = EventLog();
        events_.Attach(d_);
        ULONGLONG clicked = 0;
        ULONGLONG ended = 0;
        auto done = d_.OnCopyDone;
        d_.OnCopyDone = [&](TObject* s) {
            ended = GetTickCount64();
            done(s);
        };
        {
            // The operator clicks Cancel half a second in, while the engine waits on the server.
            DuringWait click({[&] {
                                 clicked = GetTickCount64();
                                 PostMessageW(d_.ProgressCancelButton(), BM_CLICK, 0, 0);
                             }},
                             false, 500);
            Run();
        }
        ASSERT_NE(clicked, 0u);
        EXPECT_LT(ended - clicked, 1000u);
        EXPECT_TRUE(d_.Items()[0]->Cancelled());
        EXPECT_FALSE(FileExists(scratch_ / L"Setup.exe"));
    }
}

}  // namespace
}  // namespace memoline::test
