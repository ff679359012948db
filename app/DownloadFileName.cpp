#include "app/DownloadFileName.h"

#include "download/DownloadText.h"

namespace memoline {

std::wstring LinkFileName(std::wstring_view link) {
    // Content delivery networks hand out ".../Setup.exe?token=...": the query names no file.
    const std::wstring_view path = link.substr(0, link.find_first_of(L"?#"));
    const size_t slash = path.rfind(L'/');
    const std::wstring_view segment = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    return download::DecodeURLName(std::wstring(segment));
}

bool IsPlainFileName(std::wstring_view name) {
    if (name.empty() || name == L"." || name.find(L"..") != std::wstring_view::npos)
        return false;
    for (wchar_t c : name) {
        if (c < 0x20 || c == 0x7F)
            return false;
        if (std::wstring_view(L"\\/:<>\"|?*").find(c) != std::wstring_view::npos)
            return false;
    }
    // "NUL", "nul.exe", "COM1": the download would go to the device and then be started as a file.
    return !download::IsReservedDeviceName(name);
}

}  // namespace memoline
