// The text of a system error code, for messages and exceptions.
#pragma once

#include <span>
#include <string>

namespace memoline {

// A text of our own for a code whose text the running system may not have (Wine lacks many).
struct TErrorText {
    long code;
    const wchar_t* text;
};

// The system's text for the code without the line break it ends with; when the system has none, the
// text `fallbacks` give for the code; else empty, so the caller words its own "unknown" text.
std::wstring ErrorText(long code, std::span<const TErrorText> fallbacks = {});

}  // namespace memoline
