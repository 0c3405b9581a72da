// What the tests' window programs (target.exe, hang_target.exe) share: their
// command line, their top-level window and its children, and the message loop.
//   PROGRAM [CAPTION] [--pos X Y] [--size W H]
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

namespace e2e {

struct WindowArgs {
    std::wstring caption;
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    int width = 0;
    int height = 0;
};

inline WindowArgs ParseWindowArgs(int argc, wchar_t** argv, const wchar_t* caption, int width, int height) {
    WindowArgs a;
    a.caption = caption;
    a.width = width;
    a.height = height;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--pos" && i + 2 < argc) {
            a.x = _wtoi(argv[i + 1]);
            a.y = _wtoi(argv[i + 2]);
            i += 2;
        } else if (arg == L"--size" && i + 2 < argc) {
            a.width = _wtoi(argv[i + 1]);
            a.height = _wtoi(argv[i + 2]);
            i += 2;
        } else {
            a.caption = arg;
        }
    }
    return a;
}

// Registers the window class and creates an overlapped top-level window of
// it where the arguments say (not shown yet).
inline HWND CreateTopLevel(const wchar_t* className, WNDPROC windowProc, const WindowArgs& a) {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    return CreateWindowExW(0, className, a.caption.c_str(), WS_OVERLAPPEDWINDOW, a.x, a.y, a.width, a.height,
                           nullptr, nullptr, inst, nullptr);
}

inline HWND CreateChild(HWND parent, int id, const wchar_t* className, const wchar_t* text, DWORD style,
                        int x, int y, int width, int height, DWORD exStyle = 0) {
    return CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

inline void Show(HWND hwnd) {
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
}

inline int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace e2e
