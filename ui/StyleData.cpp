#include "ui/StyleData.h"

#include <zlib.h>

#include <cstring>
#include <sstream>

namespace memoline::ui {

std::optional<std::string> InflateZlib(const std::string& compressed) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return std::nullopt;
    std::string out;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    zs.avail_in = static_cast<uInt>(compressed.size());
    int rc = Z_OK;
    char buffer[4096];
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buffer);
        zs.avail_out = sizeof buffer;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - zs.avail_out);
        // No progress with input left over means the data ends early.
        if (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0)
            rc = Z_BUF_ERROR;
    }
    inflateEnd(&zs);
    if (rc != Z_STREAM_END)
        return std::nullopt;
    return out;
}

namespace {

std::optional<uint32_t> ParseColor(const std::string& value) {
    if (value.size() != 7 || value[0] != '#')
        return std::nullopt;
    uint32_t rgb = 0;
    for (size_t i = 1; i < 7; ++i) {
        char c = value[i];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0)
            return std::nullopt;
        rgb = rgb << 4 | static_cast<uint32_t>(digit);
    }
    // #RRGGBB to the platform's 0x00BBGGRR.
    return (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

std::optional<TStyleData> ParseStyleText(const std::string& text) {
    TStyleData data;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';')
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            return std::nullopt;
        std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
        if (key == "Name") {
            data.Name.assign(value.begin(), value.end());  // style names are ASCII
            continue;
        }
        auto color = ParseColor(value);
        if (!color)
            return std::nullopt;
        data.Colors[key] = *color;
    }
    if (data.Name.empty())
        return std::nullopt;
    return data;
}

std::optional<TStyleData> DecodeStyle(const std::string& compressed) {
    auto text = InflateZlib(compressed);
    if (!text)
        return std::nullopt;
    return ParseStyleText(*text);
}

}  // namespace memoline::ui
