// What probe.exe asks from inside another program's process, through
// probe_inproc.dll: the probe loads the library there and runs one of its
// functions on a thread of that process (CreateRemoteThread), with a request
// that it wrote into that process's memory and reads back afterwards.
// The probe, the library and the other program must be of one bitness.
#pragma once

#include <windows.h>

namespace e2e {

// The library's file, next to probe.exe.
constexpr wchar_t kInprocLibrary[] = L"probe_inproc.dll";

// GetScrollBarInfo(bar, OBJID_CLIENT) as the bar's own process sees it.
struct ScrollBarRequest {
    HWND bar;
    SCROLLBARINFO info;
};
constexpr char kReadScrollBarFunction[] = "KavreloProbeReadScrollBar";

}  // namespace e2e
