// probe_inproc.dll: the functions that probe.exe runs inside another program's
// process (see probe_inproc.h). Each is a thread's start routine: it takes
// the request, fills it in and returns 1 on success, 0 on failure.
#include <windows.h>

#include "probe_inproc.h"

// SBM_GETSCROLLBARINFO, what GetScrollBarInfo(OBJID_CLIENT) sends to a scroll
// bar control, sent from this thread to the bar's thread. Under Wine (8.0)
// GetScrollBarInfo itself, called on any thread but the bar's, hands back
// the structure as it went in (zeros): the message is sent with a copy of
// it, and the answer is not copied back. The message sent by hand arrives
// with the structure itself.
extern "C" __declspec(dllexport) DWORD WINAPI KavreloProbeReadScrollBar(void* param) {
    auto* request = static_cast<e2e::ScrollBarRequest*>(param);
    request->info = {};
    request->info.cbSize = sizeof request->info;
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(request->bar, SBM_GETSCROLLBARINFO, 0, reinterpret_cast<LPARAM>(&request->info),
                               SMTO_ABORTIFHUNG, 2000, &result) && result
               ? 1
               : 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
