// The reference program of the benchmarks: the least a tool window of
// Kavrelo's kind does, written the plainest way. One top-level window with the
// tool window's styles and client size (427 x 206), a 100 ms timer, and on
// every tick the pointer position, the window under it, the state of F1 and
// the window's number written into one label (a STATIC control in the tool
// window's font) with SetWindowTextW, also when it has not changed.
//   floor.exe [X Y]   the window's top-left corner (default: the system's choice)
#include <windows.h>

#include <cstdlib>

#include "app/form_font.h"

static HWND label = nullptr;

static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_TIMER) {
        POINT p{0, 0};
        GetCursorPos(&p);
        wchar_t text[16];
        wsprintfW(text, L"%d", static_cast<int>(reinterpret_cast<INT_PTR>(WindowFromPoint(p))));
        SetWindowTextW(label, text);
        GetKeyState(VK_F1);  // Kavrelo copies the text into a second label when down
        return 0;
    }
    if (msg == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int main(int argc, char** argv) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW cls{0, WindowProc, 0, 0, instance, nullptr, LoadCursorW(nullptr, IDC_ARROW),
                  reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), nullptr, L"Floor"};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT r{0, 0, 427, 206};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    HWND hwnd = RegisterClassW(&cls) ? CreateWindowExW(0, L"Floor", L"floor", style,
                                                       argc > 2 ? std::atoi(argv[1]) : CW_USEDEFAULT,
                                                       argc > 2 ? std::atoi(argv[2]) : 0, r.right - r.left,
                                                       r.bottom - r.top, nullptr, nullptr, instance, nullptr)
                                     : nullptr;
    label = CreateWindowExW(0, L"Static", L"0", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 8, 8, 80,
                            12, hwnd, nullptr, instance, nullptr);
    if (label == nullptr || SetTimer(hwnd, 1, 100, nullptr) == 0) return 1;
    const HFONT font = kavrelo::CreateForm1Font(kavrelo::ScreenDpi());
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ShowWindow(hwnd, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    DeleteObject(font);
    return 0;
}
