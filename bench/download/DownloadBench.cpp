// Download throughput under Wine: the engine with its dialog, and bare WinINet loops with the engine's
// read size and with 64 KiB reads. Prints "<mode> <bytes> <seconds> <MB/s>" lines.
//   download_bench.exe URL engine|wininet|wininet64k TARGETDIR
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <string>
#include <vector>

#include "download/WebDownloader.h"
#include "system/Handles.h"
#include "ui/Synchronize.h"

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

// The same calls and flags as the engine, without dialog or events; the bytes go to a file as there.
int BareLoop(const std::wstring& url, const std::wstring& target, DWORD readSize, const char* mode) {
    LARGE_INTEGER start = Now();
    unique_hinternet root(InternetOpenW(L"WebDownload", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                        INTERNET_FLAG_NO_CACHE_WRITE));
    unique_hinternet request(InternetOpenUrlW(root.get(), url.c_str(), L"", 0,
                                              INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                  INTERNET_FLAG_KEEP_CONNECTION,
                                              0));
    if (!request) {
        std::printf("%s cannot open the URL (%lu)\n", mode, GetLastError());
        return 1;
    }
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
    d.OnCopyProgress = [&](TObject*, int, uint32_t, uint32_t) { ++chunks; };
    d.OnFileDone = [&](TObject*, int) { transferEnd = Now(); };
    LARGE_INTEGER start = Now();
    d.ThreadExecAndWait();
    LARGE_INTEGER end = Now();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW((dir + L"engine.bin").c_str(), GetFileExInfoStandard, &data);
    // The file's size, since the progress event carries only the low 32 bits of the count.
    unsigned long long received = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (!d.Items()[0]->Success()) {
        std::printf("engine download failed\n");
        return 1;
    }
    // The transfer with the dialog built and updated after every chunk, up to the item's end; the
    // closing of the dialog is reported apart (without a window manager Wine waits for it to go).
    Report("engine", received, Seconds(start, transferEnd));
    Report("engine_with_close", received, Seconds(start, end));
    std::printf("engine_chunks %llu\n", chunks);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::printf("usage: download_bench URL engine|wininet|wininet64k TARGETDIR\n");
        return 2;
    }
    ui::InitMainThread();
    std::wstring url = argv[1];
    std::wstring mode = argv[2];
    std::wstring dir = argv[3];
    if (!dir.empty() && dir.back() != L'\\')
        dir += L'\\';
    if (mode == L"engine")
        return Engine(url, dir);
    if (mode == L"wininet")
        return BareLoop(url, dir + L"wininet.bin", 4096, "wininet");
    if (mode == L"wininet64k")
        return BareLoop(url, dir + L"wininet64k.bin", 65536, "wininet64k");
    return 2;
}
