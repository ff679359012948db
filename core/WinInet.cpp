#include "core/WinInet.h"

#include "core/LazyLibrary.h"

namespace memoline::core::wininet {
namespace {

TLazyLibrary& Library() {
    // Never freed: a download's worker may still be inside the library while the process ends.
    static TLazyLibrary* library = new TLazyLibrary(L"wininet.dll");
    return *library;
}

}  // namespace

HINTERNET InternetOpenW(const wchar_t* agent,
                        DWORD accessType,
                        const wchar_t* proxy,
                        const wchar_t* proxyBypass,
                        DWORD flags) {
    static const TLazyFunction<decltype(&::InternetOpenW)> fn(Library(), "InternetOpenW");
    return fn.CallOr(HINTERNET{}, agent, accessType, proxy, proxyBypass, flags);
}

HINTERNET InternetOpenUrlW(HINTERNET session,
                           const wchar_t* url,
                           const wchar_t* headers,
                           DWORD headersLength,
                           DWORD flags,
                           DWORD_PTR context) {
    static const TLazyFunction<decltype(&::InternetOpenUrlW)> fn(Library(), "InternetOpenUrlW");
    return fn.CallOr(HINTERNET{}, session, url, headers, headersLength, flags, context);
}

BOOL InternetQueryOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD* bufferLength) {
    static const TLazyFunction<decltype(&::InternetQueryOptionW)> fn(Library(), "InternetQueryOptionW");
    return fn.CallOr(FALSE, handle, option, buffer, bufferLength);
}

BOOL InternetSetOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD bufferLength) {
    static const TLazyFunction<decltype(&::InternetSetOptionW)> fn(Library(), "InternetSetOptionW");
    return fn.CallOr(FALSE, handle, option, buffer, bufferLength);
}

BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
    static const TLazyFunction<decltype(&::InternetReadFile)> fn(Library(), "InternetReadFile");
    return fn.CallOr(FALSE, file, buffer, bytesToRead, bytesRead);
}

BOOL InternetQueryDataAvailable(HINTERNET file, DWORD* bytesAvailable, DWORD flags, DWORD_PTR context) {
    static const TLazyFunction<decltype(&::InternetQueryDataAvailable)> fn(Library(), "InternetQueryDataAvailable");
    return fn.CallOr(FALSE, file, bytesAvailable, flags, context);
}

BOOL InternetCloseHandle(HINTERNET handle) {
    static const TLazyFunction<decltype(&::InternetCloseHandle)> fn(Library(), "InternetCloseHandle");
    return fn.CallOr(FALSE, handle);
}

BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index) {
    static const TLazyFunction<decltype(&::HttpQueryInfoW)> fn(Library(), "HttpQueryInfoW");
    return fn.CallOr(FALSE, request, infoLevel, buffer, bufferLength, index);
}

BOOL HttpSendRequestW(HINTERNET request,
                      const wchar_t* headers,
                      DWORD headersLength,
                      void* optional,
                      DWORD optionalLength) {
    static const TLazyFunction<decltype(&::HttpSendRequestW)> fn(Library(), "HttpSendRequestW");
    return fn.CallOr(FALSE, request, headers, headersLength, optional, optionalLength);
}

}  // namespace memoline::core::wininet
