// Base64 (RFC 4648) for authorization values. No platform code.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace memoline {

std::string Base64Encode(std::string_view bytes);
// Blanks are skipped; nullopt for any other character outside the alphabet or bad padding.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace memoline
