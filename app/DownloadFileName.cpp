#include "app/DownloadFileName.h"

#include "download/DownloadText.h"

namespace memoline {

std::wstring LinkFileName(std::wstring_view link) {
    size_t slash = link.rfind(L'/');
    return std::wstring(slash == std::wstring_view::npos ? link : link.substr(slash + 1));
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
