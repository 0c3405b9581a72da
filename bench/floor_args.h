// What the reference programs share: their window, their message loop, their
// start-up, and their command line, split by hand: CommandLineToArgvW
// would bring shell32 into programs meant to load as little as possible.
//   PROGRAM [X Y [CAPTION [decoy]]]
// X Y: the window's top-left corner on the screen (default: the system's
// choice); CAPTION: the window's caption; decoy: no timer (a window for the
// pointer to cross, nothing more).
#pragma once

#include <windows.h>

#include <cwchar>

struct FloorArgs {
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    const wchar_t* caption = nullptr;
    bool decoy = false;
};

inline FloorArgs ParseFloorArgs(const wchar_t* defaultCaption) {
    FloorArgs args;
    args.caption = defaultCaption;
    static wchar_t line[512];
    lstrcpynW(line, GetCommandLineW(), 512);
    wchar_t* words[5] = {};
    int count = 0;
    for (wchar_t* c = line; *c != L'\0' && count < 5;) {
        while (*c == L' ' || *c == L'\t') ++c;
        if (*c == L'\0') break;
        const bool quoted = *c == L'"';
        if (quoted) ++c;
        words[count++] = c;
        while (*c != L'\0' && (quoted ? *c != L'"' : (*c != L' ' && *c != L'\t'))) ++c;
        if (*c != L'\0') *c++ = L'\0';
    }
    if (count >= 3) {
        args.x = static_cast<int>(std::wcstol(words[1], nullptr, 10));
        args.y = static_cast<int>(std::wcstol(words[2], nullptr, 10));
    }
    if (count >= 4) args.caption = words[3];
    if (count >= 5) args.decoy = std::wcscmp(words[4], L"decoy") == 0;
    return args;
}

// A top-level window of the tool window's styles and client size (427 x 206),
// of a class registered here; nullptr when either fails.
inline HWND CreateFloorWindow(HINSTANCE instance, const wchar_t* className, WNDPROC windowProc,
                              const FloorArgs& args) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = windowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = className;
    if (RegisterClassExW(&cls) == 0) return nullptr;

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT rect{0, 0, 427, 206};
    AdjustWindowRectEx(&rect, style, FALSE, 0);
    return CreateWindowExW(0, className, args.caption, style, args.x, args.y, rect.right - rect.left,
                           rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
}

// The plain message loop.
inline int RunMessageLoop() {
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

// A reference program from start to end: the window where the command line
// says, what addChildren puts in it (when given), the 100 ms timer (none for
// a decoy), shown, then the message loop. 1 when anything fails to start.
inline int RunFloor(HINSTANCE instance, const wchar_t* defaultCaption, const wchar_t* className,
                    WNDPROC windowProc, int showCommand, bool (*addChildren)(HWND, HINSTANCE) = nullptr) {
    const FloorArgs args = ParseFloorArgs(defaultCaption);
    HWND hwnd = CreateFloorWindow(instance, className, windowProc, args);
    if (hwnd == nullptr) return 1;
    if (addChildren != nullptr && !addChildren(hwnd, instance)) return 1;
    if (!args.decoy && SetTimer(hwnd, 1, 100, nullptr) == 0) return 1;

    ShowWindow(hwnd, args.decoy ? SW_SHOWNOACTIVATE : showCommand);
    UpdateWindow(hwnd);
    return RunMessageLoop();
}
