// The DPI the tool window is laid out at. The program declares itself aware
// of each monitor's DPI where Windows offers it (Windows 10 1703 and later),
// otherwise of the system's (Vista and later): either way Windows does not
// stretch its window as a picture. Where it follows each monitor, the window
// is laid out again at the DPI of the monitor it moves to (Form::setDpi). The
// functions that Windows XP lacks are bound by name (OptionalUser32Entry).
#pragma once

#include <windows.h>

#include "user32.h"

namespace kavrelo {

// Before any window or screen DC: per-monitor aware (v2) where Windows has
// it, system-aware where it has only that; on XP nothing changes.
inline void DeclareDpiAware() noexcept {
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 (Windows 10 1703): Windows
    // also scales the frame, the caption and the system menu per monitor, and
    // sends WM_GETDPISCALEDSIZE before WM_DPICHANGED. Refused where the
    // awareness is set already (a compatibility setting) or the context is
    // unknown; Wine 8 refuses it.
    const auto perMonitor = OptionalUser32Entry<BOOL(WINAPI*)(HANDLE)>("SetProcessDpiAwarenessContext");
    if (perMonitor != nullptr && perMonitor(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) return;
    if (const auto system = OptionalUser32Entry<BOOL(WINAPI*)()>("SetProcessDPIAware")) system();
}

// The DPI of the monitor the window is on (Windows 10 1607 and later);
// `otherwise` where Windows cannot tell it.
inline int WindowDpi(HWND window, int otherwise) noexcept {
    const auto get = OptionalUser32Entry<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    const int dpi = get != nullptr ? static_cast<int>(get(window)) : 0;
    return dpi > 0 ? dpi : otherwise;
}

// The outer size of a window with that client area and styles at that DPI:
// with the frame of that DPI from Windows 10 1607 on, of the system's DPI
// before.
inline SIZE WindowSizeFor(SIZE client, DWORD style, DWORD exStyle, int dpi) noexcept {
    const auto adjust = OptionalUser32Entry<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    RECT r{0, 0, client.cx, client.cy};
    if (adjust == nullptr || !adjust(&r, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
        r = RECT{0, 0, client.cx, client.cy};
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    }
    return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace kavrelo
