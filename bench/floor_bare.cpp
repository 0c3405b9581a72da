// The first reference program of the benchmarks: the least a tool window of
// Kavrelo's kind costs under the same window system. One top-level window with
// the tool window's styles and client size (427 x 206), a 100 ms timer whose
// handler does nothing, and the plain message loop.
//
//   floor_bare.exe [X Y [CAPTION [decoy]]]   (see floor_args.h)
#include <windows.h>

#include "floor_args.h"

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER: return 0;  // the tick: nothing to do
        case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return RunFloor(instance, L"floor_bare", L"FloorBare", WindowProc, showCommand);
}
