// Downloads whose connection drops during the body: retried with a Range request bound to the first
// answer's version, continued on 206, restarted on 200, given up after three retries.
#include <algorithm>

#include "tests/download/DownloadFixture.h"

namespace memoline::test {
namespace {

// A file server that drops the connection at chosen file offsets, one per request, and honours
// "Range" only when asked to and only while "If-Range" names the version it serves.
struct DroppingFileServer {
    std::string file;
    std::string changedFile;     // served from the second request on, as version "v2"; empty: never
    std::vector<size_t> dropAt;  // request i stops sending (and closes) at this file offset
    bool ranges = true;
    std::string etag = "\"v1\"";  // empty: none sent
    std::string lastModified;     // empty: none sent

    std::vector<std::string> heads;
    std::vector<DWORD> ticks;

    CannedReply Answer(const std::string& head) {
        const size_t index = heads.size();
        heads.push_back(head);
        ticks.push_back(GetTickCount());
        const bool changed = !changedFile.empty() && index > 0;
        const std::string& body = changed ? changedFile : file;
        const std::string tag = changed ? "\"v2\"" : etag;
        const std::string validator = !tag.empty() ? tag : lastModified;
        const std::string range = HeaderValue(head, "Range");
        size_t from = 0;
        const bool partial =
            ranges && range.rfind("bytes=", 0) == 0 && !validator.empty() && HeaderValue(head, "If-Range") == validator;
        if (partial)
            from = std::stoul(range.substr(6));
        std::string fields;
        if (!tag.empty())
            fields += "ETag: " + tag + "\r\n";
        if (!lastModified.empty())
            fields += "Last-Modified: " + lastModified + "\r\n";
        if (ranges)
            fields += "Accept-Ranges: bytes\r\n";
        CannedReply reply;
        if (partial) {
            reply.head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                         std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) + "\r\n";
        } else {
            reply.head = "HTTP/1.1 200 OK\r\n";
        }
        reply.head += "Content-Length: " + std::to_string(body.size() - from) + "\r\n" + fields + "\r\n";
        const size_t end = index < dropAt.size() ? std::min(dropAt[index], body.size()) : body.size();
        reply.body = body.substr(from, end - from);
        reply.close = true;
        return reply;
    }
};

std::string ChangedBody(size_t n) {
    std::string body = PatternBody(n);
    std::reverse(body.begin(), body.end());
    return body;
}

class ResumeTest : public DownloadTest {
protected:
    // Serves `files` under a fresh path and runs one download of it into Setup.exe.
    std::wstring RunAgainst(DroppingFileServer& files) {
        static int serial = 0;
        const std::string path = "/r" + std::to_string(++serial) + "/Setup.exe";
        server_.RouteHandler(path, [&files](const std::string& head) { return files.Answer(head); });
        events_ = EventLog();
        events_.Attach(d_);
        AddItem(server_.Url(path), L"Setup.exe");
        Run();
        return scratch_ / L"Setup.exe";
    }
};

TEST_F(ResumeTest, DroppedConnectionsAreResumedOrGivenUp) {
    const std::string file = PatternBody(30000);
    const std::string date = "Wed, 09 Dec 2026 10:00:00 GMT";
    struct Case {
        const char* name;
        std::vector<size_t> dropAt;
        bool ranges;
        std::string etag;
        std::string lastModified;
        bool changes;
        bool complete;
        std::vector<std::string> rangeAsked;  // "Range" of each request after the first
        std::vector<std::string> ifRangeSent;
    } cases[] = {
        {"one drop", {5000}, true, "\"v1\"", "", false, true, {"bytes=5000-"}, {"\"v1\""}},
        {"three drops",
         {3000, 9000, 20000},
         true,
         "\"v1\"",
         "",
         false,
         true,
         {"bytes=3000-", "bytes=9000-", "bytes=20000-"},
         {"\"v1\"", "\"v1\"", "\"v1\""}},
        {"four drops",
         {3000, 9000, 20000, 25000},
         true,
         "\"v1\"",
         "",
         false,
         false,
         {"bytes=3000-", "bytes=9000-", "bytes=20000-"},
         {"\"v1\"", "\"v1\"", "\"v1\""}},
        {"no range support: restarts from zero",
         {5000, 12000},
         false,
         "\"v1\"",
         "",
         false,
         true,
         {"bytes=5000-", "bytes=12000-"},
         {"\"v1\"", "\"v1\""}},
        {"changed version: the new file from zero",
         {5000},
         true,
         "\"v1\"",
         "",
         true,
         true,
         {"bytes=5000-"},
         {"\"v1\""}},
        {"only Last-Modified", {5000}, true, "", date, false, true, {"bytes=5000-"}, {date}},
        {"weak tag and no date: whole file again", {5000}, true, "W/\"v1\"", "", false, true, {""}, {""}},
        {"drop in the very first bytes", {0, 1}, true, "\"v1\"", "", false, true, {"", "bytes=1-"}, {"", "\"v1\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DroppingFileServer files;
        files.file = file;
        files.changedFile = c.changes ? ChangedBody(32000) : std::string();
        files.dropAt = c.dropAt;
        files.ranges = c.ranges;
        files.etag = c.etag;
        files.lastModified = c.lastModified;
        const std::wstring path = RunAgainst(files);

        ASSERT_EQ(files.heads.size(), c.rangeAsked.size() + 1);
        EXPECT_EQ(HeaderValue(files.heads[0], "Range"), "");
        for (size_t i = 0; i < c.rangeAsked.size(); ++i) {
            EXPECT_EQ(HeaderValue(files.heads[i + 1], "Range"), c.rangeAsked[i]) << "request " << i + 1;
            EXPECT_EQ(HeaderValue(files.heads[i + 1], "If-Range"), c.ifRangeSent[i]) << "request " << i + 1;
        }
        if (c.complete) {
            EXPECT_EQ(Joined(events_.lines), Joined({L"FileStart 0", L"CopyProgress", L"FileDone 0", L"CopyDone"}));
            EXPECT_TRUE(d_.Items()[0]->Success());
            EXPECT_EQ(ReadFileRaw(path), c.changes ? files.changedFile : file) << "the bytes on disk";
            EXPECT_EQ(events_.received.back(), (c.changes ? files.changedFile : file).size());
        } else {
            EXPECT_EQ(Joined(events_.lines),
                      Joined({L"FileStart 0", L"CopyProgress", L"Error 4", L"ErrorInfo 4 Download incomplete: " + path,
                              L"FileDone 0", L"CopyDone"}));
            EXPECT_FALSE(d_.Items()[0]->Success());
            EXPECT_FALSE(FileExists(path)) << "an incomplete file was left behind";
        }
        if (c.ranges && !c.changes && c.rangeAsked[0] != "") {
            // A resumed transfer's amounts go on from where they were.
            EXPECT_TRUE(std::is_sorted(events_.received.begin(), events_.received.end()));
        }
    }
}

// The first pause has its real length by default.
TEST_F(ResumeTest, PausesOneSecondBeforeTheFirstRetryByDefault) {
    d_.ResumePauses = TWebDownloader().ResumePauses;
    ASSERT_EQ(d_.ResumePauses, (std::vector<DWORD>{1000, 2000, 4000}));
    DroppingFileServer files;
    files.file = PatternBody(20000);
    files.dropAt = {7000};
    const std::wstring path = RunAgainst(files);
    ASSERT_EQ(files.heads.size(), 2u);
    EXPECT_GE(files.ticks[1] - files.ticks[0], 950u);
    EXPECT_EQ(ReadFileRaw(path), files.file);
}

TWebDownloader* g_cancelTarget = nullptr;

void CALLBACK PressCancel(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    SendMessageW(g_cancelTarget->ProgressCancelButton(), BM_CLICK, 0, 0);
}

// Cancel pressed during a pause ends the run at once: no retry, the partial file deleted.
TEST_F(ResumeTest, CancelDuringThePauseEndsTheRun) {
    g_cancelTarget = &d_;
    d_.ResumePauses = {60000};
    DroppingFileServer files;
    files.file = PatternBody(20000);
    files.dropAt = {7000};
    UINT_PTR timer = 0;
    auto progress = d_.OnCopyProgress;
    d_.OnCopyProgress = [&](TObject* s, int fileidx, uint32_t size, uint32_t totsize) {
        progress(s, fileidx, size, totsize);
        if (totsize >= 7000 && timer == 0) {
            timer = SetTimer(nullptr, 0, 300, PressCancel);  // fires during the pause after the drop
        }
    };
    const DWORD begin = GetTickCount();
    AddItem(server_.Url("/cancel/Setup.exe"), L"Setup.exe");
    server_.RouteHandler("/cancel/Setup.exe", [&files](const std::string& head) { return files.Answer(head); });
    Run();
    EXPECT_LT(GetTickCount() - begin, 20000u) << "the pause did not end at Cancel";
    EXPECT_EQ(files.heads.size(), 1u);
    EXPECT_TRUE(d_.Items()[0]->Cancelled());
    EXPECT_FALSE(FileExists(scratch_ / L"Setup.exe"));
    EXPECT_EQ(Joined(events_.lines), Joined({L"FileStart 0", L"CopyProgress", L"CopyCancel", L"CopyDone"}));
}

}  // namespace
}  // namespace memoline::test
