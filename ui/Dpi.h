// Display density. Layouts are written in units of a 96-DPI display and scaled to the DPI of the
// window they appear in. The per-window and per-monitor functions exist from Windows 8.1 and 10 on
// and are loaded at run time; on Windows 7 the system DPI applies.
#pragma once

#include <windows.h>

namespace memoline::ui {

inline constexpr int kDesignDpi = 96;

// A length of the 96-DPI layout at `dpi`, rounded to the nearest pixel.
inline int ScaleToDpi(int value, int dpi) {
    return MulDiv(value, dpi, kDesignDpi);
}

// The DPI the window is shown at: its monitor's for a per-monitor aware program, else the system's.
int WindowDpi(HWND window);
// The system DPI (the primary monitor's at logon), for a window that does not exist yet.
int SystemDpi();
// A system metric (SM_CYCAPTION and the like) as it is at `dpi`.
int SystemMetricForDpi(int index, int dpi);
// The window size for a client area at `dpi` (the frame's metrics follow the DPI where the system can).
RECT AdjustWindowRectForDpi(RECT client, DWORD style, DWORD exStyle, int dpi);

}  // namespace memoline::ui
