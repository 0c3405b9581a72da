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
    const FloorArgs args = ParseFloorArgs(L"floor_bare");

    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = L"FloorBare";
    if (RegisterClassExW(&cls) == 0) return 1;

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT rect{0, 0, 427, 206};
    AdjustWindowRectEx(&rect, style, FALSE, 0);
    HWND hwnd = CreateWindowExW(0, L"FloorBare", args.caption, style, args.x, args.y, rect.right - rect.left,
                                rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
    if (hwnd == nullptr) return 1;
    if (!args.decoy && SetTimer(hwnd, 1, 100, nullptr) == 0) return 1;

    ShowWindow(hwnd, args.decoy ? SW_SHOWNOACTIVATE : showCommand);
    UpdateWindow(hwnd);
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
