// The tool window's font, 9 points at the DPI the system tells the program
// (12 pixels at 96 dpi, 15 at 120, 18 at 144), requested with the Chinese
// character set so that the Chinese texts render on any system locale; and
// that DPI. Shared with the end-to-end probe, which measures label texts with
// the same font.
#pragma once

#include <windows.h>

#include "layout.h"

namespace kavrelo {

constexpr int kForm1FontPoints = 9;

// The screen's DPI as the system tells this program (LOGPIXELSY): 96 on
// Windows 8.1 and later for a program that does not declare itself
// DPI-aware (the system scales its windows); the real setting on Windows XP
// to 7 and under Wine.
inline int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

inline HFONT CreateForm1Font(int dpi) {
    return CreateFontW(-PointsToPixels(kForm1FontPoints, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"SimSun");
}

}  // namespace kavrelo
