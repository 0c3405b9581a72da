// probe.exe: another process that looks at windows, owns target windows and,
// as a second instance, plays a target that stops answering. One command a
// line on stdin (words, decimal numbers), one line of JSON on stdout for each,
// run on the main thread, which pumps messages between them (a reader thread
// posts them there). Handles as the tool shows them: signed 32-bit decimals.
//   target CAPTION X Y    a 420 x 240 window at X,Y with a button (id 1) and an
//                         edit field (id 2): {"hwnd","button","edit"}
//   info HWND             class, caption, styles, client area on the screen,
//                         layered attributes, zoomed, process id, its thread's
//                         focus, children with ids, texts and rectangles
//   at X Y                WindowFromPoint
//   foreground            GetForegroundWindow
//   find TEXT             visible top-level windows whose caption or class is TEXT
//   post HWND MSG WPARAM LPARAM   PostMessageW
//   move HWND X Y         SetWindowPos, without activation
//   colorkey HWND COLOR   makes a window layered with a colour key (LWA_COLORKEY)
//   windows HWND          how many windows HWND's thread has, children included
//   boxes PID             how many dialog-class (#32770) windows a process has
//   hang                  the main thread stops pumping messages until "release"
//                         (read and acted on by the reader thread)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const UINT kCommand = WM_APP + 1;  // lParam: a heap std::string, the line
HANDLE g_release = nullptr;

long long H(HWND h) { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(h)); }
HWND ToHwnd(const std::string& s) {
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(std::atoll(s.c_str()))));
}

std::string Quoted(const std::wstring& text) {
    std::string out = "\"";
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], n, nullptr, nullptr);
    for (unsigned char c : utf8) {
        char esc[8] = {static_cast<char>(c)};
        if (c == '"' || c == '\\' || c < 0x20) std::snprintf(esc, sizeof esc, "\\u%04x", c);
        out += esc;
    }
    return out + "\"";
}

// Texts without messages: for another process's window, GetWindowTextW reads
// what the system keeps, so a window that does not answer cannot hold us.
std::wstring Text(HWND h) {
    wchar_t buf[512] = {};
    GetWindowTextW(h, buf, 512);
    return buf;
}

std::wstring Class(HWND h) {
    wchar_t buf[128] = {};
    GetClassNameW(h, buf, 128);
    return buf;
}

std::string Rect(const RECT& r) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "\"x\":%ld,\"y\":%ld,\"w\":%ld,\"h\":%ld", r.left, r.top, r.right - r.left,
                  r.bottom - r.top);
    return buf;
}

std::string Info(HWND h) {
    if (!IsWindow(h)) return "{\"exists\":false}";
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(h, &pid);
    RECT client = {};
    GetClientRect(h, &client);
    MapWindowPoints(h, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    char layered[64] = "null", head[320], id[64];
    if (GetLayeredWindowAttributes(h, &key, &alpha, &flags)) {
        std::snprintf(layered, sizeof layered, "[%lu,%u,%lu]", key, alpha, flags);
    }
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    GetGUIThreadInfo(tid, &gti);
    std::snprintf(head, sizeof head,
                  "{\"exists\":true,\"pid\":%lu,\"exstyle\":%lu,\"style\":%lu,\"visible\":%s,\"zoomed\":%s,"
                  "\"layered\":%s,\"focus\":%lld,",
                  pid, static_cast<DWORD>(GetWindowLongW(h, GWL_EXSTYLE)),
                  static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE)), IsWindowVisible(h) ? "true" : "false",
                  IsZoomed(h) ? "true" : "false", layered, H(gti.hwndFocus));
    std::string out = head + Rect(client) + ",\"class\":" + Quoted(Class(h)) + ",\"text\":" + Quoted(Text(h)) +
                      ",\"children\":[";
    for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r = {};
        GetWindowRect(c, &r);
        std::snprintf(id, sizeof id, "{\"hwnd\":%lld,\"id\":%d,", H(c), GetDlgCtrlID(c));
        if (out.back() == '}') out += ',';
        out += id + Rect(r) + ",\"class\":" + Quoted(Class(c)) + ",\"text\":" + Quoted(Text(c)) + "}";
    }
    return out + "]}";
}

struct Search {
    std::wstring text;
    std::string found;
    DWORD pid;
    int count;
};

BOOL CALLBACK FindTop(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    if (IsWindowVisible(h) && (Text(h) == s->text || Class(h) == s->text)) {
        s->found += (s->found.empty() ? "" : ",") + std::to_string(H(h));
    }
    return TRUE;
}

BOOL CALLBACK CountChild(HWND, LPARAM lp) {
    ++reinterpret_cast<Search*>(lp)->count;
    return TRUE;
}
BOOL CALLBACK CountTop(HWND h, LPARAM lp) {  // EnumChildWindows goes down every level by itself
    EnumChildWindows(h, CountChild, lp);
    return CountChild(h, lp);
}

BOOL CALLBACK CountBoxes(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == s->pid && Class(h) == L"#32770") ++s->count;
    return TRUE;
}

HWND Child(HWND parent, int id, const wchar_t* cls, const wchar_t* text, int x) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | WS_BORDER, x, 8, 150, 40, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

std::string Run(const std::string& line) {
    std::vector<std::string> a;
    for (size_t i = 0, j; i < line.size(); i = j + 1) {
        j = line.find(' ', i);
        if (j == std::string::npos) j = line.size();
        if (j > i) a.push_back(line.substr(i, j - i));
    }
    auto n = [&](size_t i) { return i < a.size() ? std::atoll(a[i].c_str()) : 0LL; };
    auto hwnd = [&](size_t i) { return i < a.size() ? ToHwnd(a[i]) : nullptr; };
    const std::string cmd = a.empty() ? "" : a[0];
    char buf[160];
    if (cmd == "target" && a.size() == 4) {
        std::wstring caption(a[1].begin(), a[1].end());
        HWND h = CreateWindowExW(0, L"KavreloProbeTarget", caption.c_str(), WS_OVERLAPPEDWINDOW, n(2), n(3), 420,
                                 240, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        HWND button = Child(h, 1, L"Button", L"button", 8);
        HWND edit = Child(h, 2, L"Edit", L"edit", 170);
        ShowWindow(h, SW_SHOWNORMAL);
        UpdateWindow(h);
        std::snprintf(buf, sizeof buf, "{\"hwnd\":%lld,\"button\":%lld,\"edit\":%lld}", H(h), H(button), H(edit));
        return buf;
    }
    if (cmd == "info") return Info(hwnd(1));
    if (cmd == "at") {
        std::snprintf(buf, sizeof buf, "{\"hwnd\":%lld}", H(WindowFromPoint(POINT{LONG(n(1)), LONG(n(2))})));
        return buf;
    }
    if (cmd == "foreground") return "{\"hwnd\":" + std::to_string(H(GetForegroundWindow())) + "}";
    if (cmd == "find" && a.size() == 2) {
        Search s{std::wstring(a[1].begin(), a[1].end()), "", 0, 0};
        EnumWindows(FindTop, reinterpret_cast<LPARAM>(&s));
        return "{\"windows\":[" + s.found + "]}";
    }
    bool ok = false;
    if (cmd == "post") ok = PostMessageW(hwnd(1), UINT(n(2)), WPARAM(n(3)), LPARAM(n(4)));
    if (cmd == "move") ok = SetWindowPos(hwnd(1), nullptr, n(2), n(3), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (cmd == "colorkey") {
        SetWindowLongW(hwnd(1), GWL_EXSTYLE, GetWindowLongW(hwnd(1), GWL_EXSTYLE) | WS_EX_LAYERED);
        ok = SetLayeredWindowAttributes(hwnd(1), COLORREF(n(2)), 255, LWA_COLORKEY);
    }
    if (cmd == "post" || cmd == "move" || cmd == "colorkey") return ok ? "{\"ok\":true}" : "{\"ok\":false}";
    Search s{L"", "", DWORD(n(1)), 0};
    if (cmd == "windows") {
        DWORD tid = GetWindowThreadProcessId(hwnd(1), nullptr);
        if (tid) EnumThreadWindows(tid, CountTop, reinterpret_cast<LPARAM>(&s));
        return "{\"count\":" + std::to_string(s.count) + "}";
    }
    if (cmd == "boxes") {
        EnumWindows(CountBoxes, reinterpret_cast<LPARAM>(&s));
        return "{\"count\":" + std::to_string(s.count) + "}";
    }
    if (cmd == "hang") {
        ResetEvent(g_release);
        return "{\"hung\":true}";  // the wait follows the answer (see wmain)
    }
    return "{\"error\":" + Quoted(std::wstring(line.begin(), line.end())) + "}";
}

void Answer(const std::string& json) {
    std::fputs((json + "\n").c_str(), stdout);
    std::fflush(stdout);
}

DWORD WINAPI ReadCommands(LPVOID mainThread) {
    char buf[1024];
    while (std::fgets(buf, sizeof buf, stdin)) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line == "release") {
            SetEvent(g_release);  // the hung main thread answers nothing more
        } else if (!line.empty()) {
            PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(mainThread)), kCommand, 0,
                               reinterpret_cast<LPARAM>(new std::string(line)));
        }
    }
    // stdin closed: the commands read so far run, then the program ends.
    PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(mainThread)), WM_QUIT, 0, 0);
    return 0;
}

}  // namespace

int wmain() {
    g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;  // WM_CLOSE destroys a target window, and nothing more
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"KavreloProbeTarget";
    RegisterClassW(&wc);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, before the reader posts
    CreateThread(nullptr, 0, ReadCommands, reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(GetCurrentThreadId())),
                 0, nullptr);
    Answer("{\"ready\":true}");
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == kCommand) {
            auto* line = reinterpret_cast<std::string*>(msg.lParam);
            const std::string answer = Run(*line);
            Answer(answer);
            if (*line == "hang") WaitForSingleObject(g_release, INFINITE);  // no message looked at meanwhile
            delete line;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
