// The setup program's file name, taken from the download address of an update. No platform code:
// builds in the host lane too.
#pragma once

#include <string>
#include <string_view>

namespace memoline {

// The last segment of the link's path (the text after its last "/", before any "?" query or "#"
// fragment; the whole path when it holds no "/"), with its percent escapes decoded. Check the result
// with IsPlainFileName: a decoded "%2e%2e" or "%5c" must not reach a file name.
std::wstring LinkFileName(std::wstring_view link);

// True when `name` names a file directly inside a folder: not empty, not "." or "..", free of "\",
// ":", "..", control characters and the characters <>"|?*, and not a device's name ("NUL",
// "nul.exe", "COM1" and the like). The downloaded setup program is written into the temporary
// directory under this name and then started, so a name that could reach another folder, a stream
// or a device must never get that far.
bool IsPlainFileName(std::wstring_view name);

}  // namespace memoline
