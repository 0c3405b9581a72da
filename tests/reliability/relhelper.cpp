// relhelper.exe serve: what the reliability tests need to see and do from
// outside the tool, beyond what probe.exe offers.  One command a line
// (arguments separated by tabs), one JSON answer a line; "quit" ends.
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
//   from-point X Y         WindowFromPoint
//   missing-glyphs HWND    the characters of the window's text that the tool
//                          window's font has no glyph for (they show as
//                          boxes), as this program's locale resolves the font
//
// Every answer is an object; failures are {"error": "..."}.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/form_font.h"
#include "tests/e2e/command_tool.h"

namespace {

using e2e::Error;
using e2e::HandleValue;
using e2e::Json;
using e2e::ParseHwnd;
using e2e::ParseNumber;


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

std::wstring WindowText(HWND hwnd, bool* answered = nullptr) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
        if (answered) *answered = false;
        return std::wstring();
    }
    std::vector<wchar_t> buf(length + 2, L'\0');
    DWORD_PTR copied = 0;
    BOOL ok = SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                                  SMTO_ABORTIFHUNG, 2000, &copied) != 0;
    if (answered) *answered = ok != FALSE;
    return std::wstring(buf.data(), copied);
}

void StyleAndLayered(Json& j, HWND hwnd) {
    j.Key("exists").Bool(IsWindow(hwnd) != FALSE);
    j.Key("exstyle").Int(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
    e2e::Layered(j, hwnd);
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
    j.Key("window").BeginObject();
    j.Key("left").Int(wr.left).Key("top").Int(wr.top);
    j.Key("width").Int(wr.right - wr.left).Key("height").Int(wr.bottom - wr.top);
    j.EndObject();
    RECT cr = {};
    GetClientRect(hwnd, &cr);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    j.Key("client").BeginObject();
    j.Key("x").Int(origin.x).Key("y").Int(origin.y);
    j.Key("width").Int(cr.right).Key("height").Int(cr.bottom);
    j.EndObject();
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
    HFONT font = kavrelo::CreateForm1Font();
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
    if (cmd == L"state" && a.size() >= 2) {
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
    } else if (cmd == L"from-point" && a.size() >= 3) {
        POINT p = {static_cast<LONG>(ParseNumber(a[1])), static_cast<LONG>(ParseNumber(a[2]))};
        HWND h = WindowFromPoint(p);
        wchar_t cls[64] = {};
        if (h) GetClassNameW(h, cls, 64);
        j.BeginObject().Key("hwnd").Int(HandleValue(h)).Key("class").Str(cls);
        j.Key("root").Int(HandleValue(h ? GetAncestor(h, GA_ROOT) : nullptr));
        j.Key("desktop").Int(HandleValue(GetDesktopWindow())).EndObject();
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
