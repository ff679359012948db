// 200 catalogue requests against one address, each on a new client (so a new connection and a new
// TLS handshake each): through RequestServerUpdates, and through a bare WinINet POST loop with
// "Connection: close", taking turns in blocks of 20. Prints requests per second for each.
//   memoline_bench_catalogue.exe URL [COUNT]
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "catalogue/CatalogueConfig.h"
#include "catalogue/UpdateRequestHelper.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One POST through WinINet on a connection of its own; false on any failure.
bool WinInetPost(const URL_COMPONENTSW& url, const std::string& body) {
    HINTERNET session = InternetOpenW(L"Memoline bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!session)
        return false;
    bool ok = false;
    const std::wstring host(url.lpszHostName, url.dwHostNameLength);
    const std::wstring path(url.lpszUrlPath, url.dwUrlPathLength);
    HINTERNET connection =
        InternetConnectW(session, host.c_str(), url.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    // A fresh request each time: no cache, no kept connection, TLS for https.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
    if (url.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;
    HINTERNET request =
        connection ? HttpOpenRequestW(connection, L"POST", path.c_str(), nullptr, nullptr, nullptr, flags, 0) : nullptr;
    if (request) {
        // The test CA publishes no revocation list; WinINet would refuse the certificate for that.
        DWORD security = 0;
        DWORD size = sizeof security;
        InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
        security |= SECURITY_FLAG_IGNORE_REVOCATION;
        InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
        const wchar_t headers[] = L"Content-Type: application/x-www-form-urlencoded\r\nConnection: close\r\n";
        if (HttpSendRequestW(request, headers, static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                             static_cast<DWORD>(body.size()))) {
            DWORD status = 0;
            DWORD length = sizeof status;
            HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr);
            char buffer[8192];
            DWORD read = 0;
            while (InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) {
            }
            ok = status == 200;
        }
        InternetCloseHandle(request);
    }
    if (connection)
        InternetCloseHandle(connection);
    InternetCloseHandle(session);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: memoline_bench_catalogue URL [COUNT]\n");
        return 2;
    }
    const std::wstring address = argv[1];
    const int count = argc > 2 ? _wtoi(argv[2]) : 200;
    memoline::CatalogueAddress = address;

    URL_COMPONENTSW url{};
    url.dwStructSize = sizeof url;
    url.dwHostNameLength = 1;
    url.dwUrlPathLength = 1;
    if (!InternetCrackUrlW(address.c_str(), 0, 0, &url)) {
        fwprintf(stderr, L"cannot split %ls\n", address.c_str());
        return 1;
    }
    std::string body = "system_password=";
    for (const wchar_t* p = memoline::kCataloguePassword; *p; ++p)
        body += static_cast<char>(*p);

    // The two loops take turns in blocks, so a load that comes and goes on the machine meets both.
    constexpr int kBlock = 20;
    double oursSeconds = 0;
    double wininetSeconds = 0;
    for (int done = 0; done < count; done += kBlock) {
        const int n = std::min(kBlock, count - done);
        auto start = Clock::now();
        for (int i = 0; i < n; ++i) {
            const memoline::TServerUpdates result = memoline::RequestServerUpdates();
            if (!result.Succeeded) {
                fwprintf(stderr, L"catalogue request %d failed: %ls\n", done + i, result.FailureMessage.c_str());
                return 1;
            }
        }
        oursSeconds += Seconds(start);
        start = Clock::now();
        for (int i = 0; i < n; ++i) {
            if (!WinInetPost(url, body)) {
                fwprintf(stderr, L"WinINet request %d failed (%lu)\n", done + i, GetLastError());
                return 1;
            }
        }
        wininetSeconds += Seconds(start);
    }
    const double ours = count / oursSeconds;
    const double wininet = count / wininetSeconds;
    printf("catalogue_requests_per_second=%.1f\n", ours);
    printf("wininet_requests_per_second=%.1f\n", wininet);
    return 0;
}
