// The stored form of a visual style: zlib-compressed text of "Key=Value" lines, colours as
// "#RRGGBB". Decoding does no I/O, so it is tested on bytes alone.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace memoline::ui {

struct TStyleData {
    std::wstring Name;
    std::map<std::string, uint32_t> Colors;  // key -> 0x00BBGGRR (a COLORREF)
};

// Unpacks zlib data; nullopt when it is damaged or incomplete.
std::optional<std::string> InflateZlib(const std::string& compressed);

// Reads the text form; nullopt without a "Name" line or with a line it cannot read.
std::optional<TStyleData> ParseStyleText(const std::string& text);

// Both steps; nullopt when either fails.
std::optional<TStyleData> DecodeStyle(const std::string& compressed);

}  // namespace memoline::ui
