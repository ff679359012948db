// Free functions the updater's modules share.
#pragma once

#include <string>

namespace memoline {

// The current user's temporary directory as the system reports it (with its trailing backslash),
// however long; empty when the query fails.
std::wstring GetTempDirectory();

// The same, over a given query with GetTempPathW's contract (tests use it to stand in for a system
// that reports a path longer than the first buffer).
using TempPathQuery = unsigned long (*)(unsigned long bufferLength, wchar_t* buffer);
std::wstring GetTempDirectory(TempPathQuery query);

// "major.minor.release" of the file version in the file's version resource; "0.0.0" when the file or
// its resource cannot be read.
std::wstring GetFileVersionString(const std::wstring& path);

// True when a file (not a directory) exists at `path`; symbolic links count when their target does.
bool FileExists(const std::wstring& path);

}  // namespace memoline
