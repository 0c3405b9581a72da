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

#include "json_writer.h"

namespace e2e {

using Command = std::string (*)(const std::vector<std::wstring>& args);

inline HWND ParseHwnd(const std::wstring& s) {
    long long v = std::wcstoll(s.c_str(), nullptr, 0);
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(v)));
}

inline long long ParseNumber(const std::wstring& s) { return std::wcstoll(s.c_str(), nullptr, 0); }

inline std::string Error(const char* message) {
    Json j;
    j.BeginObject().Key("error").Str8(message).EndObject();
    return j.Text();
}

// "layered": {key, alpha, flags}, or null when the window has none.
inline void Layered(Json& j, HWND hwnd) {
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    j.Key("layered");
    if (GetLayeredWindowAttributes(hwnd, &key, &alpha, &flags)) {
        j.BeginObject().Key("key").Int(key).Key("alpha").Int(alpha).Key("flags").Int(flags).EndObject();
    } else {
        j.Null();
    }
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
        WriteLine("{\"ready\":true}");
        while (ReadLine(in, line)) {
            if (line == "quit") break;
            if (line.empty()) continue;
            WriteLine(run(SplitTabs(Utf16(line))));
        }
        return 0;
    }
    std::string out = run(args);
    WriteLine(out);
    return out.rfind("{\"error\"", 0) == 0 ? 1 : 0;
}

}  // namespace e2e
