// URL parsing and reference resolution on arbitrary text: no crash, and a parsed URL's target and
// rebuilt form parse again to the same host and port.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/NetErrors.h"
#include "http/UrlParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    const size_t cut = text.find(L'\n');
    const std::wstring first = text.substr(0, cut);
    const std::wstring second = cut == std::wstring::npos ? std::wstring() : text.substr(cut + 1);
    try {
        memoline::TnetUrlParser url;
        if (!url.Parse(first, L""))
            return 0;
        const std::wstring target = url.AbsolutePath();
        if (target.empty())
            abort();
        for (wchar_t c : target) {
            if (c <= 0x20 || c >= 0x7F || c == L'#')
                abort();
        }
        memoline::TnetUrlParser again;
        if (!again.Parse(url.AbsoluteUri(), L"") || again.Host() != url.Host() || again.Port() != url.Port())
            abort();
        const std::wstring resolved = memoline::ResolveUrlReference(url.AbsoluteUri(), second);
        memoline::TnetUrlParser next;
        next.Parse(resolved, L"");
    } catch (const memoline::EnetIdnError&) {
    }
    return 0;
}
