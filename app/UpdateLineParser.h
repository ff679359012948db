// Catalogue lines: splitting into fields and the five-field rule. No platform code.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace memoline {

// One available update, as listed in one grid row; the texts exactly as the catalogue line held them.
struct TUpdateEntry {
    std::wstring Version;  // the update's name
    std::wstring Build;    // its dotted version
    std::wstring ReleaseDate;
    std::wstring Link;  // where its setup program is downloaded from
};

// The fields of a catalogue line: separated by ";", optionally enclosed in double quotes (a doubled
// quote inside stands for one); outside quotes a field also ends at a blank (U+0001 to U+0020), and
// blanks around fields are dropped. A ";" that is the line's last character adds one empty field.
std::vector<std::wstring> SplitUpdateLine(std::wstring_view line);

// The update a line describes when it splits into exactly five fields and its second field is a higher
// dotted version than `installedVersion`.
std::optional<TUpdateEntry> ParseUpdateLine(std::wstring_view line, std::wstring_view installedVersion);

}  // namespace memoline
