#include "ui/WorkAreaFit.h"

#include <algorithm>

namespace memoline::ui {

TWorkAreaFit FitInWorkArea(const RECT& workArea, SIZE frame, SIZE client, int minClientHeight) {
    const LONG areaWidth = workArea.right - workArea.left, areaHeight = workArea.bottom - workArea.top;
    const LONG fitting = areaHeight - frame.cy;
    const LONG clientHeight =
        std::max<LONG>(std::min<LONG>(client.cy, fitting), std::min<LONG>(minClientHeight, client.cy));
    const LONG width = client.cx + frame.cx, height = clientHeight + frame.cy;
    POINT at{workArea.left + (areaWidth - width) / 2, workArea.top + (areaHeight - height) / 2};
    at.x = std::max(at.x, workArea.left);
    at.y = std::max(at.y, workArea.top);
    return TWorkAreaFit{at, static_cast<int>(clientHeight)};
}

RECT WorkAreaAtCursor() {
    POINT cursor{};
    if (!GetCursorPos(&cursor))
        cursor = POINT{0, 0};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return monitor.rcWork;
    return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

}  // namespace memoline::ui
