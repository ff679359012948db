#include "catalogue/RequestLog.h"

namespace memoline {

TRequestLogEvent RequestLogEvent;
std::shared_ptr<IRequestLogger> RequestLogger;

void DoLog(uint8_t level, const std::wstring& text) {
    if (RequestLogEvent)
        RequestLogEvent(level, text);
    if (RequestLogger)
        RequestLogger->Log(level, text);
}

void LogProgress(const std::wstring& text) {
    DoLog(kLogProgress, text);
}

void LogFailure(const std::wstring& text) {
    DoLog(kLogFailure, text);
}

}  // namespace memoline
