// The tool window's font: 9 points at 96 dpi (12 pixels), requested with the
// Chinese character set so that the Chinese texts render on any system locale.
// Shared with the end-to-end probe, which measures label texts with it.
#pragma once

#include <windows.h>

namespace kavrelo {

inline HFONT CreateForm1Font() {
    return CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"SimSun");
}

}  // namespace kavrelo
