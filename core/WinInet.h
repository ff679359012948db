// The WinINet functions the program uses, from wininet.dll loaded on first use (see LazyLibrary.h):
// a Check or a download loads it, the window's start-up does not. Same parameters and results as the
// system's own; when the DLL cannot be loaded each fails with ERROR_PROC_NOT_FOUND.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace memoline::core::wininet {

HINTERNET InternetOpenW(const wchar_t* agent,
                        DWORD accessType,
                        const wchar_t* proxy,
                        const wchar_t* proxyBypass,
                        DWORD flags);
HINTERNET InternetOpenUrlW(HINTERNET session,
                           const wchar_t* url,
                           const wchar_t* headers,
                           DWORD headersLength,
                           DWORD flags,
                           DWORD_PTR context);
BOOL InternetQueryOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD* bufferLength);
BOOL InternetSetOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD bufferLength);
BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD bytesToRead, DWORD* bytesRead);
BOOL InternetQueryDataAvailable(HINTERNET file, DWORD* bytesAvailable, DWORD flags, DWORD_PTR context);
BOOL InternetCloseHandle(HINTERNET handle);
BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index);
BOOL HttpSendRequestW(HINTERNET request,
                      const wchar_t* headers,
                      DWORD headersLength,
                      void* optional,
                      DWORD optionalLength);

}  // namespace memoline::core::wininet
