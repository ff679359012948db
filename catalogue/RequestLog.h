// The optional log sink of the catalogue request: a callback and an interface receiver, both empty
// unless an embedding program assigns them. No platform code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace memoline {

// Levels of the lines: 0 progress, 2 failure.
inline constexpr uint8_t kLogProgress = 0;
inline constexpr uint8_t kLogFailure = 2;

using TRequestLogEvent = std::function<void(uint8_t level, const std::wstring& text)>;

class IRequestLogger {
public:
    virtual ~IRequestLogger() = default;
    virtual void Log(uint8_t level, const std::wstring& text) = 0;
};

// The receivers. The module holds one reference to the interface receiver; it is released when the
// module's statics are destroyed at process end.
extern TRequestLogEvent RequestLogEvent;
extern std::shared_ptr<IRequestLogger> RequestLogger;

// The callback first, then the interface; either may be unset. What a receiver throws goes to the caller.
void DoLog(uint8_t level, const std::wstring& text);
void LogProgress(const std::wstring& text);
void LogFailure(const std::wstring& text);

}  // namespace memoline
