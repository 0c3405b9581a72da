// What the tests' command-line helper probe.exe is built on: the
// parsing of its arguments, the error answer, the layered attributes of a
// window, and the main routine that runs one command from the command line or,
// with "serve", one command a line from stdin (arguments separated by tabs;
// "quit" ends).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "json_line.h"

namespace e2e {

// A command's answer: an object.
using Command = Json (*)(const std::vector<std::wstring>& args);

inline HWND ParseHwnd(const std::wstring& s) {
    long long v = std::wcstoll(s.c_str(), nullptr, 0);
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(v)));
}

inline long long ParseNumber(const std::wstring& s) { return std::wcstoll(s.c_str(), nullptr, 0); }

inline Json Error(const char* message) { return Json{{"error", message}}; }

// The layered attributes {key, alpha, flags}, or null when the window has none.
inline Json Layered(HWND hwnd) {
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    if (!GetLayeredWindowAttributes(hwnd, &key, &alpha, &flags)) return nullptr;
    return Json{{"key", key}, {"alpha", alpha}, {"flags", flags}};
}

// Reads one line (without its end) from stdin as bytes; false at the end.
inline bool ReadLine(HANDLE in, std::string& line) {
    line.clear();
    char c;
    DWORD got = 0;
    bool any = false;
    while (ReadFile(in, &c, 1, &got, nullptr) && got == 1) {
        any = true;
        if (c == '\n') return true;
        if (c != '\r') line += c;
    }
    return any;
}

inline std::vector<std::wstring> SplitTabs(const std::wstring& s) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t tab = s.find(L'\t', start);
        parts.push_back(s.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos) break;
        start = tab + 1;
    }
    return parts;
}

inline int CommandMain(int argc, wchar_t** argv, Command run) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == L"serve") {
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        std::string line;
        WriteJson(Json{{"ready", true}});
        while (ReadLine(in, line)) {
            if (line == "quit") break;
            if (line.empty()) continue;
            WriteJson(run(SplitTabs(Utf16(line))));
        }
        return 0;
    }
    const Json out = run(args);
    WriteJson(out);
    return out.contains("error") ? 1 : 0;
}

}  // namespace e2e
