#include "ui/Dpi.h"

#include "core/Handles.h"
#include "core/LazyLibrary.h"

namespace memoline::ui {
namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);

template <typename Fn>
Fn Load(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (!handle)
        handle = core::LoadSystemLibrary(module);  // shcore is not loaded by default; kept for the process's life
    return handle ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle, name))) : nullptr;
}

struct DpiFunctions {
    GetDpiForWindowFn GetDpiForWindow = Load<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");  // Windows 10 1607
    AdjustWindowRectExForDpiFn AdjustWindowRectExForDpi =
        Load<AdjustWindowRectExForDpiFn>(L"user32.dll", "AdjustWindowRectExForDpi");  // Windows 10 1607
    GetSystemMetricsForDpiFn GetSystemMetricsForDpi =
        Load<GetSystemMetricsForDpiFn>(L"user32.dll", "GetSystemMetricsForDpi");  // Windows 10 1607
};

// Only where the window's own DPI is unknown (before Windows 10 1607): shcore and what it loads stay out
// of the start-up elsewhere.
GetDpiForMonitorFn GetDpiForMonitor() {
    static const GetDpiForMonitorFn fn = Load<GetDpiForMonitorFn>(L"shcore.dll", "GetDpiForMonitor");  // 8.1
    return fn;
}

const DpiFunctions& Functions() {
    static const DpiFunctions functions;
    return functions;
}

constexpr int kMdtEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI

}  // namespace

int SystemDpi() {
    const unique_screen_dc screen(GetDC(nullptr));
    const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : kDesignDpi;
    return dpi > 0 ? dpi : kDesignDpi;
}

int WindowDpi(HWND window) {
    const DpiFunctions& f = Functions();
    if (window && f.GetDpiForWindow) {
        UINT dpi = f.GetDpiForWindow(window);
        if (dpi > 0)
            return static_cast<int>(dpi);
    }
    GetDpiForMonitorFn getDpiForMonitor = window ? GetDpiForMonitor() : nullptr;
    if (getDpiForMonitor) {
        UINT x = 0, y = 0;
        HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
        if (SUCCEEDED(getDpiForMonitor(monitor, kMdtEffectiveDpi, &x, &y)) && y > 0)
            return static_cast<int>(y);
    }
    return SystemDpi();
}

int SystemMetricForDpi(int index, int dpi) {
    const DpiFunctions& f = Functions();
    if (f.GetSystemMetricsForDpi)
        return f.GetSystemMetricsForDpi(index, static_cast<UINT>(dpi));
    // Older systems give their metrics at the system DPI.
    return MulDiv(GetSystemMetrics(index), dpi, SystemDpi());
}

RECT AdjustWindowRectForDpi(RECT client, DWORD style, DWORD exStyle, int dpi) {
    const DpiFunctions& f = Functions();
    if (f.AdjustWindowRectExForDpi &&
        f.AdjustWindowRectExForDpi(&client, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        return client;
    AdjustWindowRectEx(&client, style, FALSE, exStyle);
    return client;
}

}  // namespace memoline::ui
