// Case-insensitive lookup of a charset name in a platform's name table. No platform code.
#pragma once

#include <cstddef>
#include <string_view>

namespace memoline {

struct CharsetName {
    const wchar_t* name;  // lower case
    unsigned codePage;
};

template <std::size_t N>
unsigned LookUpCharsetName(const CharsetName (&table)[N], std::wstring_view name) {
    for (const CharsetName& entry : table) {
        const std::wstring_view candidate = entry.name;
        if (candidate.size() != name.size())
            continue;
        bool equal = true;
        for (std::size_t i = 0; i < name.size() && equal; ++i) {
            wchar_t c = name[i];
            if (c >= L'A' && c <= L'Z')
                c = static_cast<wchar_t>(c - L'A' + L'a');
            equal = c == candidate[i];
        }
        if (equal)
            return entry.codePage;
    }
    return 0;
}

}  // namespace memoline
