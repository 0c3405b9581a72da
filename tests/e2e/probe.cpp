// probe.exe: looks at windows from outside (another process) and prints what
// it sees as JSON, one line per command, UTF-8.
//
//   probe.exe window --title T [--class C]   the first top-level window with that caption
//   probe.exe info HWND                       the same data for any window
//   probe.exe find [--title T] [--class C] [--owner HWND]   matching top-level windows (list)
//   probe.exe from-point X Y                  WindowFromPoint
//   probe.exe cursor                          GetCursorPos
//   probe.exe foreground                      GetForegroundWindow
//   probe.exe post HWND MSG WPARAM LPARAM     PostMessageW (numbers in decimal or 0x hex)
//   probe.exe move HWND X Y [W H]             SetWindowPos (the size too when given), no activation
//   probe.exe exists HWND                     IsWindow
//   probe.exe hit-test HWND X Y               WM_NCHITTEST at a screen point (HTCLOSE = 20, ...)
//   probe.exe version                         the Windows version Wine reports: GetVersionExW
//                                             (what a program without a manifest sees) and
//                                             RtlGetVersion (the prefix's setting)
//   probe.exe serve                           reads commands from stdin, one a line,
//                                             arguments separated by tabs; "quit" ends
//
// For the reliability tests, which drive the tool for a while and feed it bad
// input:
//
//   state HWND             the tool window in one look: texts of its children by
//                          control id, the bar's position, the text box's length,
//                          the window's rectangle and whether it answers messages
//   res PID                GetGuiResources (USER, GDI, and their peaks) and
//                          GetProcessHandleCount of a process
//   thread-windows HWND    windows of the thread that owns HWND: top-level ones
//                          (EnumThreadWindows) and all of their children
//   layered HWND           extended style and layered attributes of a window
//   boxes PID              dialog-class (#32770) top-level windows of a process
//   ping HWND MS           SendMessageTimeout(WM_NULL): does the window answer
//                          within MS milliseconds, and how long it took
//   settext HWND N SEED    WM_SETTEXT with a text of N characters (see MakeText)
//   replacesel HWND N SEED EM_REPLACESEL with such a text
//   textlen HWND           WM_GETTEXTLENGTH
//   textsum HWND           the window's text: length and a checksum
//   clip-set N SEED        puts such a text on the clipboard (CF_UNICODETEXT)
//   clip-get               length and checksum of the clipboard's text
//   missing-glyphs HWND    the characters of the window's text that the tool
//                          window's font has no glyph for (they show as
//                          boxes), as this program's locale resolves the font
//
// Every answer is an object; failures are {"error": "..."}.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/form_font.h"
#include "command_tool.h"

namespace {

using e2e::Error;
using e2e::HandleValue;
using e2e::Json;
using e2e::Layered;
using e2e::ParseHwnd;
using e2e::ParseNumber;


std::wstring WindowText(HWND hwnd, bool* answered = nullptr) {
    // WM_GETTEXT through SendMessageTimeout, so a hung window cannot hang us.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
        if (answered) *answered = false;
        return std::wstring();
    }
    std::vector<wchar_t> buf(length + 2, L'\0');
    DWORD_PTR copied = 0;
    const bool ok = SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                                        SMTO_ABORTIFHUNG, 2000, &copied) != 0;
    if (answered) *answered = ok;
    return std::wstring(buf.data(), copied);
}

std::wstring ClassName(HWND hwnd) {
    wchar_t buf[256] = {};
    int n = GetClassNameW(hwnd, buf, 256);
    return std::wstring(buf, n > 0 ? n : 0);
}

void Rect(Json& j, const char* key, const RECT& r) {
    j.Key(key).BeginObject();
    j.Key("left").Int(r.left).Key("top").Int(r.top).Key("right").Int(r.right).Key("bottom").Int(r.bottom);
    j.Key("width").Int(r.right - r.left).Key("height").Int(r.bottom - r.top);
    j.EndObject();
}


// The width and height of a text in the tool window's own font.
void Measured(Json& j, const std::wstring& text) {
    HDC dc = GetDC(nullptr);
    HFONT font = kavrelo::CreateForm1Font(kavrelo::ScreenDpi());
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size = {0, 0};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    j.Key("measured").BeginObject();
    j.Key("width").Int(size.cx).Key("height").Int(size.cy).Key("tmHeight").Int(tm.tmHeight);
    j.Key("face").Str(face);
    j.EndObject();
}

// The client area: its size and its origin on the screen.
void Client(Json& j, HWND hwnd) {
    RECT cr = {};
    GetClientRect(hwnd, &cr);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    j.Key("client").BeginObject();
    j.Key("width").Int(cr.right - cr.left).Key("height").Int(cr.bottom - cr.top);
    j.Key("x").Int(origin.x).Key("y").Int(origin.y);
    j.EndObject();
}

void ScrollInfo(Json& j, HWND hwnd) {
    SCROLLINFO si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    j.Key("scroll");
    if (GetScrollInfo(hwnd, SB_CTL, &si)) {
        j.BeginObject();
        j.Key("min").Int(si.nMin).Key("max").Int(si.nMax).Key("pos").Int(si.nPos);
        j.Key("page").Int(si.nPage).Key("trackPos").Int(si.nTrackPos);
        j.EndObject();
    } else {
        j.Null();
    }
}

void Child(Json& j, HWND child, HWND parent) {
    std::wstring cls = ClassName(child);
    std::wstring text = WindowText(child);
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    j.BeginObject();
    j.Key("hwnd").Int(HandleValue(child));
    j.Key("id").Int(GetDlgCtrlID(child));
    j.Key("class").Str(cls);
    j.Key("style").Int(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)));
    j.Key("exstyle").Int(static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE)));
    j.Key("visible").Bool(IsWindowVisible(child) != FALSE);
    j.Key("enabled").Bool(IsWindowEnabled(child) != FALSE);
    Rect(j, "rect", r);
    j.Key("text").Str(text);
    if (lstrcmpiW(cls.c_str(), L"ScrollBar") == 0) ScrollInfo(j, child);
    if (lstrcmpiW(cls.c_str(), L"Static") == 0) Measured(j, text);
    j.EndObject();
}

void Info(Json& j, HWND hwnd, bool with_children = true) {
    if (!IsWindow(hwnd)) {
        j.BeginObject().Key("error").Str8("no such window").Key("hwnd").Int(HandleValue(hwnd)).EndObject();
        return;
    }
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
    DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    DWORD exstyle = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
    RECT wr = {};
    GetWindowRect(hwnd, &wr);
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    bool have_gti = GetGUIThreadInfo(tid, &gti) != FALSE;

    j.BeginObject();
    j.Key("hwnd").Int(HandleValue(hwnd));
    j.Key("pid").Int(pid).Key("tid").Int(tid);
    j.Key("class").Str(ClassName(hwnd));
    j.Key("caption").Str(WindowText(hwnd));
    j.Key("style").Int(style).Key("exstyle").Int(exstyle);
    j.Key("topmost").Bool((exstyle & WS_EX_TOPMOST) != 0);
    j.Key("visible").Bool(IsWindowVisible(hwnd) != FALSE);
    j.Key("enabled").Bool(IsWindowEnabled(hwnd) != FALSE);
    j.Key("owner").Int(HandleValue(GetWindow(hwnd, GW_OWNER)));
    j.Key("parent").Int(HandleValue(GetAncestor(hwnd, GA_PARENT)));
    Rect(j, "window", wr);
    Client(j, hwnd);
    j.Key("dpi").Int(kavrelo::ScreenDpi());  // as the system tells this probe
    Layered(j, hwnd);
    j.Key("focus");
    have_gti ? j.Int(HandleValue(gti.hwndFocus)) : j.Null();
    j.Key("active");
    have_gti ? j.Int(HandleValue(gti.hwndActive)) : j.Null();
    j.Key("foreground").Int(HandleValue(GetForegroundWindow()));

    DWORD_PTR big = 0, small = 0;
    SendMessageTimeoutW(hwnd, WM_GETICON, ICON_BIG, 0, SMTO_ABORTIFHUNG, 2000, &big);
    SendMessageTimeoutW(hwnd, WM_GETICON, ICON_SMALL, 0, SMTO_ABORTIFHUNG, 2000, &small);
    j.Key("icons").BeginObject();
    j.Key("big").Bool(big != 0).Key("small").Bool(small != 0);
    j.Key("classBig").Bool(GetClassLongPtrW(hwnd, GCLP_HICON) != 0);
    j.Key("classSmall").Bool(GetClassLongPtrW(hwnd, GCLP_HICONSM) != 0);
    j.EndObject();

    if (with_children) {
        j.Key("children").BeginArray();
        for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) Child(j, c, hwnd);
        j.EndArray();
    }
    j.EndObject();
}

struct FindFilter {
    bool has_title = false, has_class = false, has_owner = false;
    std::wstring title, cls;
    HWND owner = nullptr;
    std::vector<HWND> found;
};

BOOL CALLBACK FindProc(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<FindFilter*>(lp);
    if (f->has_title && WindowText(hwnd) != f->title) return TRUE;
    if (f->has_class && lstrcmpiW(ClassName(hwnd).c_str(), f->cls.c_str()) != 0) return TRUE;
    if (f->has_owner && GetWindow(hwnd, GW_OWNER) != f->owner) return TRUE;
    f->found.push_back(hwnd);
    return TRUE;
}

FindFilter ParseFilter(const std::vector<std::wstring>& a, size_t from) {
    FindFilter f;
    for (size_t i = from; i + 1 < a.size(); i += 2) {
        if (a[i] == L"--title") { f.has_title = true; f.title = a[i + 1]; }
        else if (a[i] == L"--class") { f.has_class = true; f.cls = a[i + 1]; }
        else if (a[i] == L"--owner") { f.has_owner = true; f.owner = ParseHwnd(a[i + 1]); }
    }
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&f));
    return f;
}

void Version(Json& j) {
    OSVERSIONINFOW vi = {};
    vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExW(&vi);
#pragma GCC diagnostic pop
    j.BeginObject();
    j.Key("getVersionEx");
    if (ok) {
        j.BeginObject().Key("major").Int(vi.dwMajorVersion).Key("minor").Int(vi.dwMinorVersion);
        j.Key("build").Int(vi.dwBuildNumber).EndObject();
    } else {
        j.Null();
    }
    // RtlGetVersion is not subject to the compatibility shims that make
    // GetVersionExW report 6.2 to programs that do not declare Windows 10.
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
    auto rtl = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW rv = {};
    rv.dwOSVersionInfoSize = sizeof rv;
    j.Key("rtlGetVersion");
    if (rtl && rtl(&rv) == 0) {
        j.BeginObject().Key("major").Int(rv.dwMajorVersion).Key("minor").Int(rv.dwMinorVersion);
        j.Key("build").Int(rv.dwBuildNumber).EndObject();
    } else {
        j.Null();
    }
    j.EndObject();
}


// ---- for the reliability tests ----

// A text of n characters from a seed: printable ASCII and some Chinese, with a
// line break every 100 characters, so that its checksum tells texts apart.
std::wstring MakeText(long long n, long long seed) {
    static const wchar_t kChinese[] = L"透明度窗口调整滚动条";
    std::wstring s;
    s.reserve(static_cast<size_t>(n));
    unsigned state = static_cast<unsigned>(seed) * 2654435761u + 1;
    for (long long i = 0; i < n; ++i) {
        if (i % 100 == 98 && i + 1 < n) {
            s += L"\r\n";
            ++i;
            continue;
        }
        state = state * 1103515245u + 12345u;
        unsigned r = (state >> 16) & 0x7fff;
        if (r % 11 == 0) {
            s += kChinese[r % 10];
        } else {
            s += static_cast<wchar_t>(L' ' + r % 95);
        }
    }
    return s;
}

unsigned Checksum(const std::wstring& s) {
    unsigned h = 2166136261u;
    for (wchar_t c : s) h = (h ^ static_cast<unsigned>(c)) * 16777619u;
    return h;
}

void StyleAndLayered(Json& j, HWND hwnd) {
    j.Key("exists").Bool(IsWindow(hwnd) != FALSE);
    j.Key("exstyle").Int(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
    Layered(j, hwnd);
}

void State(Json& j, HWND hwnd) {
    j.BeginObject();
    j.Key("exists").Bool(IsWindow(hwnd) != FALSE);
    DWORD_PTR dummy = 0;
    DWORD started = GetTickCount();
    bool answers = SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &dummy) != 0;
    j.Key("answers").Bool(answers).Key("pingMs").Int(GetTickCount() - started);
    RECT wr = {};
    GetWindowRect(hwnd, &wr);
    Rect(j, "window", wr);
    Client(j, hwnd);
    StyleAndLayered(j, hwnd);
    j.Key("texts").BeginObject();
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(c);
        std::string key = std::to_string(id);
        if (id == 107) continue;  // the text box: its length only
        j.Key(key.c_str()).Str(WindowText(c));
    }
    j.EndObject();
    HWND bar = GetDlgItem(hwnd, 100);
    SCROLLINFO si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    j.Key("bar");
    if (bar && GetScrollInfo(bar, SB_CTL, &si)) {
        j.Int(si.nPos);
    } else {
        j.Null();
    }
    HWND text = GetDlgItem(hwnd, 107);
    DWORD_PTR length = 0;
    j.Key("textLength");
    if (text && SendMessageTimeoutW(text, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
        j.Int(static_cast<long long>(length));
    } else {
        j.Null();
    }
    j.EndObject();
}

struct Counter {
    int top = 0;
    int children = 0;
};

BOOL CALLBACK CountChild(HWND, LPARAM lp) {
    ++reinterpret_cast<Counter*>(lp)->children;
    return TRUE;
}

BOOL CALLBACK CountTop(HWND hwnd, LPARAM lp) {
    auto* c = reinterpret_cast<Counter*>(lp);
    ++c->top;
    EnumChildWindows(hwnd, CountChild, lp);
    return TRUE;
}

struct BoxFilter {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK FindBoxes(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<BoxFilter*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (pid == f->pid && lstrcmpW(cls, L"#32770") == 0) f->found.push_back(hwnd);
    return TRUE;
}


bool SetClipboardText(const std::wstring& text) {
    if (!OpenClipboard(nullptr)) return false;
    EmptyClipboard();
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool ok = false;
    if (mem) {
        void* p = GlobalLock(mem);
        memcpy(p, text.c_str(), bytes);
        GlobalUnlock(mem);
        ok = SetClipboardData(CF_UNICODETEXT, mem) != nullptr;
        if (!ok) GlobalFree(mem);
    }
    CloseClipboard();
    return ok;
}

// The characters of text for which the tool window's font, as it resolves in
// this process, has no glyph (GetGlyphIndicesW marks them 0xFFFF); line breaks
// are left out, and each character is listed once.
std::wstring MissingGlyphs(const std::wstring& text) {
    std::wstring missing;
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = kavrelo::CreateForm1Font(kavrelo::ScreenDpi());
    HGDIOBJ old = SelectObject(dc, font);
    std::vector<WORD> glyphs(text.size() + 1, 0);
    if (GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                         GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR) {
        missing = L"?";
    } else {
        for (size_t i = 0; i < text.size(); ++i) {
            const wchar_t c = text[i];
            if (glyphs[i] == 0xFFFF && c != L'\r' && c != L'\n' && missing.find(c) == std::wstring::npos) {
                missing += c;
            }
        }
    }
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
    return missing;
}

std::string Run(const std::vector<std::wstring>& a) {
    if (a.empty()) return Error("no command");
    const std::wstring& cmd = a[0];
    Json j;
    if (cmd == L"window") {
        FindFilter f = ParseFilter(a, 1);
        if (f.found.empty()) return Error("not found");
        Info(j, f.found.front());
    } else if (cmd == L"info" && a.size() >= 2) {
        Info(j, ParseHwnd(a[1]));
    } else if (cmd == L"find") {
        FindFilter f = ParseFilter(a, 1);
        j.BeginObject().Key("windows").BeginArray();
        for (HWND h : f.found) Info(j, h);
        j.EndArray().EndObject();
    } else if (cmd == L"from-point" && a.size() >= 3) {
        POINT p = {static_cast<LONG>(ParseNumber(a[1])), static_cast<LONG>(ParseNumber(a[2]))};
        HWND h = WindowFromPoint(p);
        j.BeginObject().Key("hwnd").Int(HandleValue(h));
        j.Key("class").Str(h ? ClassName(h) : std::wstring());
        j.Key("root").Int(HandleValue(h ? GetAncestor(h, GA_ROOT) : nullptr));
        j.EndObject();
    } else if (cmd == L"cursor") {
        POINT p = {};
        GetCursorPos(&p);
        j.BeginObject().Key("x").Int(p.x).Key("y").Int(p.y).EndObject();
    } else if (cmd == L"foreground") {
        j.BeginObject().Key("hwnd").Int(HandleValue(GetForegroundWindow())).EndObject();
    } else if (cmd == L"hit-test" && a.size() >= 4) {
        LPARAM point = MAKELPARAM(static_cast<SHORT>(ParseNumber(a[2])), static_cast<SHORT>(ParseNumber(a[3])));
        DWORD_PTR code = 0;
        BOOL ok = SendMessageTimeoutW(ParseHwnd(a[1]), WM_NCHITTEST, 0, point, SMTO_ABORTIFHUNG, 2000, &code) != 0;
        j.BeginObject().Key("ok").Bool(ok != FALSE).Key("code").Int(static_cast<LONG>(code)).EndObject();
    } else if (cmd == L"version") {
        Version(j);
    } else if (cmd == L"exists" && a.size() >= 2) {
        j.BeginObject().Key("exists").Bool(IsWindow(ParseHwnd(a[1])) != FALSE).EndObject();
    } else if (cmd == L"post" && a.size() >= 5) {
        BOOL ok = PostMessageW(ParseHwnd(a[1]), static_cast<UINT>(ParseNumber(a[2])),
                               static_cast<WPARAM>(ParseNumber(a[3])), static_cast<LPARAM>(ParseNumber(a[4])));
        j.BeginObject().Key("ok").Bool(ok != FALSE).EndObject();
    } else if (cmd == L"move" && a.size() >= 4) {
        bool sized = a.size() >= 6;
        BOOL ok = SetWindowPos(ParseHwnd(a[1]), nullptr, static_cast<int>(ParseNumber(a[2])),
                               static_cast<int>(ParseNumber(a[3])),
                               sized ? static_cast<int>(ParseNumber(a[4])) : 0,
                               sized ? static_cast<int>(ParseNumber(a[5])) : 0,
                               (sized ? 0 : SWP_NOSIZE) | SWP_NOZORDER | SWP_NOACTIVATE);
        j.BeginObject().Key("ok").Bool(ok != FALSE).EndObject();
    } else if (cmd == L"state" && a.size() >= 2) {
        State(j, ParseHwnd(a[1]));
    } else if (cmd == L"res" && a.size() >= 2) {
        DWORD pid = static_cast<DWORD>(ParseNumber(a[1]));
        HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (!p) return Error("OpenProcess failed");
        DWORD handles = 0;
        BOOL have_handles = GetProcessHandleCount(p, &handles);
        j.BeginObject();
        j.Key("user").Int(GetGuiResources(p, GR_USEROBJECTS));
        j.Key("gdi").Int(GetGuiResources(p, GR_GDIOBJECTS));
        j.Key("userPeak").Int(GetGuiResources(p, 4));  // GR_USEROBJECTS_PEAK
        j.Key("gdiPeak").Int(GetGuiResources(p, 2));   // GR_GDIOBJECTS_PEAK
        j.Key("handles");
        have_handles ? j.Int(handles) : j.Null();
        j.EndObject();
        CloseHandle(p);
    } else if (cmd == L"thread-windows" && a.size() >= 2) {
        DWORD tid = GetWindowThreadProcessId(ParseHwnd(a[1]), nullptr);
        if (!tid) return Error("no such window");
        Counter c;
        EnumThreadWindows(tid, CountTop, reinterpret_cast<LPARAM>(&c));
        j.BeginObject().Key("top").Int(c.top).Key("children").Int(c.children).EndObject();
    } else if (cmd == L"layered" && a.size() >= 2) {
        j.BeginObject();
        StyleAndLayered(j, ParseHwnd(a[1]));
        j.EndObject();
    } else if (cmd == L"boxes" && a.size() >= 2) {
        BoxFilter f{static_cast<DWORD>(ParseNumber(a[1])), {}};
        EnumWindows(FindBoxes, reinterpret_cast<LPARAM>(&f));
        j.BeginObject().Key("boxes").BeginArray();
        for (HWND b : f.found) j.Int(HandleValue(b));
        j.EndArray().EndObject();
    } else if (cmd == L"ping" && a.size() >= 3) {
        DWORD_PTR dummy = 0;
        DWORD started = GetTickCount();
        BOOL ok = SendMessageTimeoutW(ParseHwnd(a[1]), WM_NULL, 0, 0, SMTO_NORMAL,
                                      static_cast<UINT>(ParseNumber(a[2])), &dummy);
        j.BeginObject().Key("answers").Bool(ok != FALSE).Key("ms").Int(GetTickCount() - started).EndObject();
    } else if ((cmd == L"settext" || cmd == L"replacesel") && a.size() >= 4) {
        std::wstring text = MakeText(ParseNumber(a[2]), ParseNumber(a[3]));
        DWORD_PTR result = 0;
        UINT msg = cmd == L"settext" ? WM_SETTEXT : EM_REPLACESEL;
        WPARAM wp = cmd == L"settext" ? 0 : TRUE;
        BOOL ok = SendMessageTimeoutW(ParseHwnd(a[1]), msg, wp, reinterpret_cast<LPARAM>(text.c_str()),
                                      SMTO_NORMAL, 10000, &result);
        j.BeginObject().Key("ok").Bool(ok != FALSE).Key("result").Int(static_cast<long long>(result));
        j.Key("sum").Int(Checksum(text)).EndObject();
    } else if (cmd == L"textlen" && a.size() >= 2) {
        DWORD_PTR length = 0;
        BOOL ok = SendMessageTimeoutW(ParseHwnd(a[1]), WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
        j.BeginObject().Key("ok").Bool(ok != FALSE).Key("length").Int(static_cast<long long>(length)).EndObject();
    } else if (cmd == L"textsum" && a.size() >= 2) {
        bool answered = true;
        std::wstring text = WindowText(ParseHwnd(a[1]), &answered);
        j.BeginObject().Key("ok").Bool(answered).Key("length").Int(static_cast<long long>(text.size()));
        j.Key("sum").Int(Checksum(text));
        j.Key("head").Str(text.substr(0, 40));
        j.Key("tail").Str(text.size() > 40 ? text.substr(text.size() - 40) : text);
        j.EndObject();
    } else if (cmd == L"clip-set" && a.size() >= 3) {
        std::wstring text = MakeText(ParseNumber(a[1]), ParseNumber(a[2]));
        bool ok = SetClipboardText(text);
        j.BeginObject().Key("ok").Bool(ok).Key("sum").Int(Checksum(text)).EndObject();
    } else if (cmd == L"clip-get") {
        if (!OpenClipboard(nullptr)) return Error("OpenClipboard failed");
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        std::wstring text;
        if (data) {
            const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(data));
            if (p) text = p;
            GlobalUnlock(data);
        }
        CloseClipboard();
        j.BeginObject().Key("ok").Bool(data != nullptr).Key("length").Int(static_cast<long long>(text.size()));
        j.Key("sum").Int(Checksum(text)).EndObject();
    } else if (cmd == L"missing-glyphs" && a.size() >= 2) {
        bool answered = true;
        const std::wstring text = WindowText(ParseHwnd(a[1]), &answered);
        if (!answered) return Error("the window does not answer");
        j.BeginObject().Key("text").Str(text).Key("missing").Str(MissingGlyphs(text)).EndObject();
    } else {
        return Error("unknown command or missing arguments");
    }
    return j.Text();
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return e2e::CommandMain(argc, argv, &Run); }
