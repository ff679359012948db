// Catalogue lines: splitting must end, and a field never holds a separator it should have split at.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/UpdateLineParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring line;
    for (size_t i = 0; i + 1 < size; i += 2)
        line += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    const auto fields = memoline::SplitUpdateLine(line);
    size_t total = 0;
    for (const auto& f : fields)
        total += f.size();
    // Fields are made of the line's characters (a doubled quote gives one), so they cannot be longer.
    if (total > line.size())
        abort();
    // Without any quote character, no field holds a ";" or a blank.
    if (line.find(L'"') == std::wstring::npos) {
        for (const auto& f : fields) {
            for (wchar_t c : f) {
                if (c == L';' || (c >= 1 && c <= 0x20))
                    abort();
            }
        }
    }
    memoline::ParseUpdateLine(line, L"5.9.0");
    return 0;
}
