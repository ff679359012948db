// Download throughput under Wine: the engine with its dialog, and bare WinINet loops doing the
// engine's calls without dialog or events. Every mode is timed from its start to the end of its run,
// handles closed and file written (the engine: to OnCopyDone, which comes after its dialog has closed).
// Prints "<mode> <bytes> <seconds> <MB/s>" lines.
//   download_bench.exe URL MODE TARGETDIR
// Modes:
//   engine      the engine with its dialog, started as the updater starts it (ThreadExecAndWait)
//   worker      the bare loop with 64 KiB reads on a thread of its own while the main thread pumps its
//               queue: what any Windows program gets from the platform
//   platform    the bare loop with the engine's 64 KiB reads, on the engine's old kind of thread:
//               a worker hands it to the UI thread and waits, while the UI thread pumps its queue
//   direct64k   the same loop called straight from the main thread
//   direct4k    the same loop with 4096-byte reads, straight from the main thread
//   synced4k    4096-byte reads on the engine's kind of thread
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/Handles.h"
#include "core/Synchronize.h"
#include "download/WebDownloader.h"

using namespace memoline;

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

void Report(const char* mode, unsigned long long bytes, double seconds) {
    std::printf("%s %llu %.3f %.2f\n", mode, bytes, seconds, bytes / seconds / 1e6);
}

// The updater downloads from its shown main window. A process's first window also connects it to the
// display and loads the graphics driver, tens of milliseconds that no download in the updater pays:
// every mode starts with such a window up, before anything is timed, and keeps it to the end.
HWND ShowMainWindowStandIn() {
    HWND window = CreateWindowExW(0, L"STATIC", L"Memoline Server Updates", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr, nullptr, nullptr);
    UpdateWindow(window);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    return window;
}

// Runs `work` as the engine runs a download: a worker thread hands it to the UI thread through the
// framework's synchronous call and waits, while the UI thread waits for messages and pumps them.
void OnTheEnginesKindOfThread(const std::function<void()>& work) {
    bool done = false;
    std::thread worker([&] {
        core::Synchronize(work);
        core::Synchronize([&] { done = true; });
    });
    while (!done) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    worker.join();
}

// Runs `work` on a thread of its own while this thread waits for it and pumps its messages.
void OnAWorkerThread(const std::function<void()>& work) {
    unique_handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread worker([&] {
        work();
        SetEvent(done.get());
    });
    const HANDLE wait = done.get();
    while (MsgWaitForMultipleObjects(1, &wait, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    worker.join();
}

// The same calls and flags as the engine, without dialog or events; the bytes go to a file as there.
int BareLoop(const std::wstring& url, const std::wstring& target, DWORD readSize, const char* mode) {
    LARGE_INTEGER start = Now();
    unique_hinternet root(
        InternetOpenW(L"WebDownload", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_NO_CACHE_WRITE));
    unique_hinternet request(
        InternetOpenUrlW(root.get(), url.c_str(), L"", 0,
                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION, 0));
    if (!request) {
        std::printf("%s cannot open the URL (%lu)\n", mode, GetLastError());
        return 1;
    }
    // The engine's two queries before the body.
    DWORD status = 0, length = 0, size = sizeof status, index = 0;
    HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index);
    size = sizeof length;
    index = 0;
    HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, &index);
    unique_file file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> buffer(readSize);
    unsigned long long total = 0;
    DWORD n = 0;
    while (InternetReadFile(request.get(), buffer.data(), readSize, &n) && n > 0) {
        DWORD written = 0;
        WriteFile(file.get(), buffer.data(), n, &written, nullptr);
        total += n;
    }
    file.reset();
    request.reset();
    root.reset();
    Report(mode, total, Seconds(start, Now()));
    return 0;
}

int Engine(const std::wstring& url, const std::wstring& dir) {
    TWebDownloader d;
    // The updater's settings.
    d.HTTPKeepAliveAuthentication = true;
    d.AutoURLDecode = true;
    d.ShowFileName = false;
    d.ShowServer = false;
    d.ShowTime = true;
    d.ShowElapsedTime = true;
    d.ShowCompletion = true;
    d.DlgCaption = L"Downloading.....";
    d.DlgDownload = L"Downloading.....";
    TWebDownloadItem* item = d.Items().Add();
    item->URL = url;
    item->TargetDir = dir;
    item->TargetFilename = L"engine.bin";
    unsigned long long chunks = 0;
    LARGE_INTEGER transferEnd{};
    LARGE_INTEGER copyDone{};
    LARGE_INTEGER firstChunk{};
    d.OnCopyProgress = [&](TObject*, int, uint32_t, uint32_t) {
        if (chunks++ == 0)
            firstChunk = Now();
    };
    d.OnFileDone = [&](TObject*, int) { transferEnd = Now(); };
    d.OnCopyDone = [&](TObject*) { copyDone = Now(); };
    LARGE_INTEGER start = Now();
    d.ThreadExecAndWait();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW((dir + L"engine.bin").c_str(), GetFileExInfoStandard, &data);
    // The file's size, since the progress event carries only the low 32 bits of the count.
    unsigned long long received = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (!d.Items()[0]->Success()) {
        std::printf("engine download failed\n");
        return 1;
    }
    // The whole run: the dialog built and updated after every chunk, handles and dialog closed. The
    // time to the item's end (OnFileDone, the end point used before) is printed for the record.
    Report("engine", received, Seconds(start, copyDone));
    Report("engine_to_file_done", received, Seconds(start, transferEnd));
    std::printf("engine_chunks %llu\n", chunks);
    std::printf("engine_seconds_to_first_chunk %.3f\n", Seconds(start, firstChunk));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::printf("usage: download_bench URL engine|worker|platform|direct64k|direct4k|synced4k TARGETDIR\n");
        return 2;
    }
    core::InitMainThread();
    const HWND mainWindow = ShowMainWindowStandIn();
    std::wstring url = argv[1];
    std::wstring mode = argv[2];
    std::wstring dir = argv[3];
    if (!dir.empty() && dir.back() != L'\\')
        dir += L'\\';
    int result = 2;
    if (mode == L"engine")
        result = Engine(url, dir);
    else if (mode == L"worker")
        OnAWorkerThread([&] { result = BareLoop(url, dir + L"worker.bin", 65536, "worker"); });
    else if (mode == L"platform")
        OnTheEnginesKindOfThread([&] { result = BareLoop(url, dir + L"platform.bin", 65536, "platform"); });
    else if (mode == L"synced4k")
        OnTheEnginesKindOfThread([&] { result = BareLoop(url, dir + L"synced4k.bin", 4096, "synced4k"); });
    else if (mode == L"direct64k")
        result = BareLoop(url, dir + L"direct64k.bin", 65536, "direct64k");
    else if (mode == L"direct4k")
        result = BareLoop(url, dir + L"direct4k.bin", 4096, "direct4k");
    DestroyWindow(mainWindow);
    return result;
}
