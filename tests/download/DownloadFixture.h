// What the engine and dialog tests share: an engine set up as the updater sets it up, a recorder of
// its events, a loopback server and a scratch folder.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/WebDownloader.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestHttpServer.h"

namespace memoline::test {

// The updater's settings of its engine.
inline void ConfigureAsUpdater(TWebDownloader& d) {
    d.Agent = L"WebDownload";
    d.HTTPKeepAliveAuthentication = true;
    d.AutoURLDecode = true;
    d.Timeout = 0;
    d.ShowFileName = false;
    d.ShowServer = false;
    d.ShowTime = true;
    d.ShowElapsedTime = true;
    d.ShowCompletion = true;
    d.DlgCaption = L"Downloading.....";
    d.DlgDownload = L"Downloading.....";
}

inline std::wstring WindowText(HWND hwnd) {
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    return text;
}

inline bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Records every event as one line; runs of OnCopyProgress collapse into one "CopyProgress" line and
// their received counts go to `received`.
struct EventLog {
    std::vector<std::wstring> lines;
    std::vector<uint32_t> received;
    std::vector<uint32_t> totals;
    bool offUiThread = false;

    void Add(const std::wstring& line) {
        if (line == L"CopyProgress" && !lines.empty() && lines.back() == line)
            return;
        lines.push_back(line);
    }

    void Attach(TWebDownloader& d) {
        DWORD ui = GetCurrentThreadId();
        auto check = [this, ui, &d](TObject* sender) {
            offUiThread = offUiThread || GetCurrentThreadId() != ui;
            EXPECT_EQ(sender, &d);
        };
        d.OnFileStart = [=, this](TObject* s, int idx) {
            check(s);
            Add(L"FileStart " + std::to_wstring(idx));
        };
        d.OnFileDone = [=, this](TObject* s, int idx) {
            check(s);
            Add(L"FileDone " + std::to_wstring(idx));
        };
        d.OnCopyCancel = [=, this](TObject* s) {
            check(s);
            Add(L"CopyCancel");
        };
        d.OnCopyDone = [=, this](TObject* s) {
            check(s);
            Add(L"CopyDone");
        };
        d.OnConnectError = [=, this](TObject* s) {
            check(s);
            Add(L"ConnectError");
        };
        d.OnURLNotFound = [=, this](TObject* s, const std::wstring& url) {
            check(s);
            Add(L"URLNotFound " + url);
        };
        d.OnError = [=, this](TObject* s, int code) {
            check(s);
            Add(L"Error " + std::to_wstring(code));
        };
        d.OnErrorInfo = [=, this](TObject* s, int code, const std::wstring& info) {
            check(s);
            Add(L"ErrorInfo " + std::to_wstring(code) + L" " + info);
        };
        d.OnCopyProgress = [=, this](TObject* s, int fileidx, uint32_t size, uint32_t totsize) {
            check(s);
            EXPECT_EQ(fileidx, 1);
            totals.push_back(size);
            received.push_back(totsize);
            Add(L"CopyProgress");
        };
    }
};

inline std::wstring Joined(const std::vector<std::wstring>& lines) {
    std::wstring all;
    for (const auto& line : lines)
        all += line + L"\n";
    return all;
}

class DownloadTest : public testing::Test {
protected:
    DownloadTest() : scratch_(L"download_test") {
        ConfigureAsUpdater(d_);
        d_.ResumePauses = {10, 20, 40};  // the retries of a dropped transfer, without the long waits
        events_.Attach(d_);
    }

    // One item as the install workflow sets it up.
    TWebDownloadItem* AddItem(const std::wstring& url, const std::wstring& targetFilename) {
        d_.Items().Clear();
        TWebDownloadItem* item = d_.Items().Add();
        item->URL = url;
        item->Protocol = TWebDownloadProtocol::wpHttp;
        item->TargetDir = scratch_.Path();
        item->TargetFilename = targetFilename;
        return item;
    }

    void Run() {
        d_.ThreadExecAndWait();
        EXPECT_FALSE(events_.offUiThread) << "an event was raised off the UI thread";
    }

    TestHttpServer server_;
    ScratchDir scratch_;
    TWebDownloader d_;
    EventLog events_;
};

}  // namespace memoline::test
