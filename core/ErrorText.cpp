#include "core/ErrorText.h"

#include <windows.h>

namespace memoline {

std::wstring ErrorText(long code, std::span<const TErrorText> fallbacks) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length != 0 && buffer != nullptr ? std::wstring(buffer, length) : std::wstring();
    LocalFree(buffer);
    while (!text.empty() && static_cast<uint32_t>(text.back()) <= 0x20)
        text.pop_back();
    if (!text.empty())
        return text;
    for (const TErrorText& fallback : fallbacks) {
        if (fallback.code == code)
            return fallback.text;
    }
    return {};
}

}  // namespace memoline
