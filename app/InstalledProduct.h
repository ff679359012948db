// Where the product is installed and which version it is. Every call tests the disk anew.
#pragma once

#include <string>

namespace memoline {

inline constexpr const wchar_t* kServerProgramPath = L"C:\\Memoline5Server\\Memoline5Server.exe";
inline constexpr const wchar_t* kClientProgramPath = L"C:\\Memoline5\\Memoline5.exe";
// Named in full: without its extension the shell would try .pif, .com and .bat beside it first, and
// any such file left in the folder would run instead.
inline constexpr const wchar_t* kDataUpdateProgramPath = L"C:\\Memoline5Server\\DataUpdate.exe";

bool IsServerInstalled();
bool IsClientInstalled();
// The server test first; the client test only when the server is not there.
bool IsInstalled();
// The server program's version, else the client program's, else the empty text.
std::wstring GetInstalledVersion();

}  // namespace memoline
