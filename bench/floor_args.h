// The command line of the reference programs, split by hand: CommandLineToArgvW
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
