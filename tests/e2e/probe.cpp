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
//   probe.exe scrollbar HWND                  a horizontal scroll bar control (SBS_HORZ) as
//                                             GetScrollBarInfo(OBJID_CLIENT) and
//                                             GetScrollInfo(SB_CTL) show it:
//       {"rect": {left, top, right, bottom, width, height},  the bar (rcScrollBar), in
//                                             screen coordinates
//        "arrow": N,                          the width of each arrow button (dxyLineButton):
//                                             x in [left, left + N) is the left arrow,
//                                             [right - N, right) the right one
//        "thumb": {"left": X, "right": X},    screen x of the thumb's left edge
//                                             (left + xyThumbTop) and of the first pixel
//                                             right of it (left + xyThumbBottom); the
//                                             trough is what lies between the arrows on
//                                             either side of it
//        "min": N, "max": N, "pos": N, "trackPos": N, "page": N}
//                                             Under Wine the bar's process is asked from
//                                             inside (probe_inproc.dll, which has to be
//                                             next to probe.exe; see ScrollBar below).
//                                             On Windows a program without a DPI manifest,
//                                             as this one, can be given scaled coordinates
//                                             on a screen of more than 96 dpi (DPI
//                                             virtualization); Wine does not scale them.
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
//   colorkey HWND COLOR    makes a window layered with a colour key (LWA_COLORKEY),
//                          as a program that draws itself see-through does
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
#include <tlhelp32.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/form1_ids.h"
#include "app/form_font.h"
#include "command_tool.h"
#include "probe_inproc.h"

namespace {

using e2e::Error;
using e2e::HandleValue;
using e2e::Json;
using e2e::Layered;
using e2e::ParseHwnd;
using e2e::ParseNumber;
using e2e::Utf8;


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

Json Rect(const RECT& r) {
    return Json{{"left", r.left}, {"top", r.top}, {"right", r.right}, {"bottom", r.bottom},
                {"width", r.right - r.left}, {"height", r.bottom - r.top}};
}


// The width and height of a text in the tool window's own font.
Json Measured(const std::wstring& text) {
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
    return Json{{"width", size.cx}, {"height", size.cy}, {"tmHeight", tm.tmHeight}, {"face", Utf8(face)}};
}

// The client area: its size and its origin on the screen.
Json Client(HWND hwnd) {
    RECT cr = {};
    GetClientRect(hwnd, &cr);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    return Json{{"width", cr.right - cr.left}, {"height", cr.bottom - cr.top}, {"x", origin.x}, {"y", origin.y}};
}

// GetScrollInfo of a scroll bar control; false when it fails.
bool ControlScrollInfo(HWND hwnd, SCROLLINFO& si) {
    si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    return GetScrollInfo(hwnd, SB_CTL, &si) != FALSE;
}

// {min, max, pos, page, trackPos}, or null.
Json ScrollInfo(HWND hwnd) {
    SCROLLINFO si;
    if (!ControlScrollInfo(hwnd, si)) return nullptr;
    return Json{{"min", si.nMin}, {"max", si.nMax}, {"pos", si.nPos}, {"page", si.nPage}, {"trackPos", si.nTrackPos}};
}

Json Child(HWND child, HWND parent) {
    std::wstring cls = ClassName(child);
    std::wstring text = WindowText(child);
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    Json j;
    j["hwnd"] = HandleValue(child);
    j["id"] = GetDlgCtrlID(child);
    j["class"] = Utf8(cls);
    j["style"] = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    j["exstyle"] = static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE));
    j["visible"] = IsWindowVisible(child) != FALSE;
    j["enabled"] = IsWindowEnabled(child) != FALSE;
    j["rect"] = Rect(r);
    j["text"] = Utf8(text);
    if (lstrcmpiW(cls.c_str(), L"ScrollBar") == 0) j["scroll"] = ScrollInfo(child);
    if (lstrcmpiW(cls.c_str(), L"Static") == 0) j["measured"] = Measured(text);
    return j;
}

Json Info(HWND hwnd) {
    if (!IsWindow(hwnd)) return Json{{"error", "no such window"}, {"hwnd", HandleValue(hwnd)}};
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
    DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    DWORD exstyle = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
    RECT wr = {};
    GetWindowRect(hwnd, &wr);
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    bool have_gti = GetGUIThreadInfo(tid, &gti) != FALSE;

    Json j;
    j["hwnd"] = HandleValue(hwnd);
    j["pid"] = pid;
    j["tid"] = tid;
    j["class"] = Utf8(ClassName(hwnd));
    j["caption"] = Utf8(WindowText(hwnd));
    j["style"] = style;
    j["exstyle"] = exstyle;
    j["topmost"] = (exstyle & WS_EX_TOPMOST) != 0;
    j["visible"] = IsWindowVisible(hwnd) != FALSE;
    j["enabled"] = IsWindowEnabled(hwnd) != FALSE;
    j["owner"] = HandleValue(GetWindow(hwnd, GW_OWNER));
    j["parent"] = HandleValue(GetAncestor(hwnd, GA_PARENT));
    j["window"] = Rect(wr);
    j["client"] = Client(hwnd);
    j["dpi"] = kavrelo::ScreenDpi();  // as the system tells this probe
    j["layered"] = Layered(hwnd);
    j["focus"] = have_gti ? Json(HandleValue(gti.hwndFocus)) : Json(nullptr);
    j["active"] = have_gti ? Json(HandleValue(gti.hwndActive)) : Json(nullptr);
    j["foreground"] = HandleValue(GetForegroundWindow());

    DWORD_PTR big = 0, small = 0;
    SendMessageTimeoutW(hwnd, WM_GETICON, ICON_BIG, 0, SMTO_ABORTIFHUNG, 2000, &big);
    SendMessageTimeoutW(hwnd, WM_GETICON, ICON_SMALL, 0, SMTO_ABORTIFHUNG, 2000, &small);
    j["icons"] = Json{{"big", big != 0},
                      {"small", small != 0},
                      {"classBig", GetClassLongPtrW(hwnd, GCLP_HICON) != 0},
                      {"classSmall", GetClassLongPtrW(hwnd, GCLP_HICONSM) != 0}};

    Json children = Json::array();
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(Child(c, hwnd));
    j["children"] = std::move(children);
    return j;
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

Json VersionNumbers(const OSVERSIONINFOW& v) {
    return Json{{"major", v.dwMajorVersion}, {"minor", v.dwMinorVersion}, {"build", v.dwBuildNumber}};
}

Json Version() {
    OSVERSIONINFOW vi = {};
    vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExW(&vi);
#pragma GCC diagnostic pop
    Json j;
    j["getVersionEx"] = ok ? VersionNumbers(vi) : Json(nullptr);
    // RtlGetVersion is not subject to the compatibility shims that make
    // GetVersionExW report 6.2 to programs that do not declare Windows 10.
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
    auto rtl = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW rv = {};
    rv.dwOSVersionInfoSize = sizeof rv;
    j["rtlGetVersion"] = rtl && rtl(&rv) == 0 ? VersionNumbers(rv) : Json(nullptr);
    return j;
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
    j["exists"] = IsWindow(hwnd) != FALSE;
    j["exstyle"] = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
    j["layered"] = Layered(hwnd);
}

Json State(HWND hwnd) {
    Json j;
    j["exists"] = IsWindow(hwnd) != FALSE;
    DWORD_PTR dummy = 0;
    DWORD started = GetTickCount();
    bool answers = SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &dummy) != 0;
    j["answers"] = answers;
    j["pingMs"] = GetTickCount() - started;
    RECT wr = {};
    GetWindowRect(hwnd, &wr);
    j["window"] = Rect(wr);
    j["client"] = Client(hwnd);
    StyleAndLayered(j, hwnd);
    Json texts = Json::object();
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(c);
        if (id == kavrelo::kIdText1) continue;  // the text box: its length only
        texts[std::to_string(id)] = Utf8(WindowText(c));
    }
    j["texts"] = std::move(texts);
    HWND bar = GetDlgItem(hwnd, kavrelo::kIdHScroll1);
    SCROLLINFO si;
    j["bar"] = bar && ControlScrollInfo(bar, si) ? Json(si.nPos) : Json(nullptr);
    HWND text = GetDlgItem(hwnd, kavrelo::kIdText1);
    DWORD_PTR length = 0;
    j["textLength"] = text && SendMessageTimeoutW(text, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)
                          ? Json(static_cast<long long>(length))
                          : Json(nullptr);
    return j;
}

// The base address of a module (by file name, as "user32.dll") in a process.
BYTE* RemoteModuleBase(DWORD pid, const wchar_t* name) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE) return nullptr;
    MODULEENTRY32W me = {};
    me.dwSize = sizeof me;
    BYTE* base = nullptr;
    for (BOOL more = Module32FirstW(snap, &me); more && !base; more = Module32NextW(snap, &me)) {
        if (lstrcmpiW(me.szModule, name) == 0) base = me.modBaseAddr;
    }
    CloseHandle(snap);
    return base;
}

// The address in process pid of a function that this process also has: the
// same offset from its module's base.
LPTHREAD_START_ROUTINE RemoteFunction(DWORD pid, HMODULE local, const wchar_t* module, const char* function) {
    FARPROC here = local ? GetProcAddress(local, function) : nullptr;
    BYTE* there = here ? RemoteModuleBase(pid, module) : nullptr;
    if (!there) return nullptr;
    const ptrdiff_t offset = reinterpret_cast<BYTE*>(reinterpret_cast<void*>(here)) - reinterpret_cast<BYTE*>(local);
    return reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(there + offset));
}

// Runs function(param) on a new thread of process p; true when it returned
// within timeout_ms, with its exit code in *code.
bool RunRemote(HANDLE p, LPTHREAD_START_ROUTINE function, void* param, DWORD timeout_ms, DWORD* code) {
    HANDLE thread = CreateRemoteThread(p, nullptr, 0, function, param, 0, nullptr);
    if (!thread) return false;
    const bool done = WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0;
    if (done) GetExitCodeThread(thread, code);
    CloseHandle(thread);
    return done;
}

// The bar's SCROLLBARINFO read inside the bar's process, by probe_inproc.dll
// loaded there; nullptr when it worked, else what failed.
const char* ScrollBarInfoInProcess(HWND bar, SCROLLBARINFO& sbi) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    while (n > 0 && path[n - 1] != L'\\' && path[n - 1] != L'/') --n;
    path[n] = L'\0';
    if (n + lstrlenW(e2e::kInprocLibrary) >= MAX_PATH) return "path too long";
    lstrcatW(path, e2e::kInprocLibrary);
    HMODULE library = LoadLibraryW(path);
    if (!library) return "cannot load probe_inproc.dll";
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");

    DWORD pid = 0;
    GetWindowThreadProcessId(bar, &pid);
    HANDLE p = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                               PROCESS_VM_READ | PROCESS_VM_WRITE,
                           FALSE, pid);
    if (!p) {
        FreeLibrary(library);
        return "OpenProcess failed";
    }
    const char* failed = nullptr;
    const SIZE_T path_bytes = (lstrlenW(path) + 1) * sizeof(wchar_t);
    e2e::ScrollBarRequest request = {};
    request.bar = bar;
    // The request first, then the library's path.
    auto* remote = static_cast<BYTE*>(
        VirtualAllocEx(p, nullptr, sizeof request + path_bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    bool hung = false;
    if (!remote || !WriteProcessMemory(p, remote, &request, sizeof request, nullptr) ||
        !WriteProcessMemory(p, remote + sizeof request, path, path_bytes, nullptr)) {
        failed = "cannot write into the bar's process";
    } else {
        DWORD code = 0;
        LPTHREAD_START_ROUTINE load = RemoteFunction(pid, kernel, L"kernel32.dll", "LoadLibraryW");
        if (!load || !RunRemote(p, load, remote + sizeof request, 5000, &code)) {
            failed = "cannot load probe_inproc.dll in the bar's process";
        } else {
            LPTHREAD_START_ROUTINE read =
                RemoteFunction(pid, library, e2e::kInprocLibrary, e2e::kReadScrollBarFunction);
            if (!read) {
                failed = "probe_inproc.dll is not in the bar's process";
            } else if (!RunRemote(p, read, remote, 5000, &code)) {
                // The thread waits on the bar's window, which does not answer: the
                // memory and the library stay, in use.
                hung = true;
                failed = "the bar's process does not answer";
            } else if (code != 1) {
                failed = "SBM_GETSCROLLBARINFO failed in the bar's process";
            } else if (!ReadProcessMemory(p, remote, &request, sizeof request, nullptr)) {
                failed = "cannot read from the bar's process";
            } else {
                sbi = request.info;
            }
            LPTHREAD_START_ROUTINE unload = RemoteFunction(pid, kernel, L"kernel32.dll", "FreeLibrary");
            BYTE* base = RemoteModuleBase(pid, e2e::kInprocLibrary);
            if (!hung && unload && base) RunRemote(p, unload, base, 5000, &code);
        }
    }
    if (remote && !hung) VirtualFreeEx(p, remote, 0, MEM_RELEASE);
    CloseHandle(p);
    FreeLibrary(library);
    return failed;
}

// A horizontal scroll bar control on the screen: GetScrollBarInfo(OBJID_CLIENT)
// for where its parts are, GetScrollInfo(SB_CTL) for its values.
Json ScrollBar(HWND bar) {
    if (!IsWindow(bar)) return Error("no such window");
    if (lstrcmpiW(ClassName(bar).c_str(), L"ScrollBar") != 0) return Error("not a scroll bar control");
    if (GetWindowLongW(bar, GWL_STYLE) & (SBS_VERT | SBS_SIZEBOX)) return Error("not a horizontal scroll bar");
    // GetScrollBarInfo and GetScrollInfo wait for the bar's thread as long as it takes.
    DWORD_PTR dummy = 0;
    if (!SendMessageTimeoutW(bar, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &dummy)) {
        return Error("the scroll bar does not answer");
    }
    SCROLLBARINFO sbi = {};
    sbi.cbSize = sizeof sbi;
    if (!GetScrollBarInfo(bar, OBJID_CLIENT, &sbi)) return Error("GetScrollBarInfo failed");
    RECT wr = {};
    GetWindowRect(bar, &wr);
    if (IsRectEmpty(&sbi.rcScrollBar) && !IsRectEmpty(&wr)) {
        // Wine (8.0) answers TRUE but leaves the structure as it was (zeros)
        // when the bar belongs to another thread: it sends SBM_GETSCROLLBARINFO
        // with a copy of the structure and does not copy the answer back (its
        // packing of the replies of messages sent to another process has no
        // case for this one; SBM_GETSCROLLBARINFO sent by hand from here comes
        // back empty too). Windows fills it in. Then ask from a thread of the
        // bar's own process, where the message sent by hand works under Wine.
        if (const char* failed = ScrollBarInfoInProcess(bar, sbi)) return Error(failed);
    }
    SCROLLINFO si;
    if (!ControlScrollInfo(bar, si)) return Error("GetScrollInfo failed");
    const RECT& r = sbi.rcScrollBar;
    Json j;
    j["rect"] = Rect(r);
    j["arrow"] = sbi.dxyLineButton;
    j["thumb"] = Json{{"left", r.left + sbi.xyThumbTop}, {"right", r.left + sbi.xyThumbBottom}};
    j["min"] = si.nMin;
    j["max"] = si.nMax;
    j["pos"] = si.nPos;
    j["trackPos"] = si.nTrackPos;
    j["page"] = si.nPage;
    return j;
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

Json Run(const std::vector<std::wstring>& a) {
    if (a.empty()) return Error("no command");
    const std::wstring& cmd = a[0];
    if (cmd == L"window") {
        FindFilter f = ParseFilter(a, 1);
        if (f.found.empty()) return Error("not found");
        return Info(f.found.front());
    }
    if (cmd == L"info" && a.size() >= 2) return Info(ParseHwnd(a[1]));
    if (cmd == L"find") {
        FindFilter f = ParseFilter(a, 1);
        Json windows = Json::array();
        for (HWND h : f.found) windows.push_back(Info(h));
        return Json{{"windows", std::move(windows)}};
    }
    if (cmd == L"from-point" && a.size() >= 3) {
        POINT p = {static_cast<LONG>(ParseNumber(a[1])), static_cast<LONG>(ParseNumber(a[2]))};
        HWND h = WindowFromPoint(p);
        return Json{{"hwnd", HandleValue(h)},
                    {"class", Utf8(h ? ClassName(h) : std::wstring())},
                    {"root", HandleValue(h ? GetAncestor(h, GA_ROOT) : nullptr)}};
    }
    if (cmd == L"cursor") {
        POINT p = {};
        GetCursorPos(&p);
        return Json{{"x", p.x}, {"y", p.y}};
    }
    if (cmd == L"foreground") return Json{{"hwnd", HandleValue(GetForegroundWindow())}};
    if (cmd == L"hit-test" && a.size() >= 4) {
        LPARAM point = MAKELPARAM(static_cast<SHORT>(ParseNumber(a[2])), static_cast<SHORT>(ParseNumber(a[3])));
        DWORD_PTR code = 0;
        BOOL ok = SendMessageTimeoutW(ParseHwnd(a[1]), WM_NCHITTEST, 0, point, SMTO_ABORTIFHUNG, 2000, &code) != 0;
        return Json{{"ok", ok != FALSE}, {"code", static_cast<LONG>(code)}};
    }
    if (cmd == L"version") return Version();
    if (cmd == L"exists" && a.size() >= 2) return Json{{"exists", IsWindow(ParseHwnd(a[1])) != FALSE}};
    if (cmd == L"post" && a.size() >= 5) {
        BOOL ok = PostMessageW(ParseHwnd(a[1]), static_cast<UINT>(ParseNumber(a[2])),
                               static_cast<WPARAM>(ParseNumber(a[3])), static_cast<LPARAM>(ParseNumber(a[4])));
        return Json{{"ok", ok != FALSE}};
    }
    if (cmd == L"move" && a.size() >= 4) {
        bool sized = a.size() >= 6;
        BOOL ok = SetWindowPos(ParseHwnd(a[1]), nullptr, static_cast<int>(ParseNumber(a[2])),
                               static_cast<int>(ParseNumber(a[3])),
                               sized ? static_cast<int>(ParseNumber(a[4])) : 0,
                               sized ? static_cast<int>(ParseNumber(a[5])) : 0,
                               (sized ? 0 : SWP_NOSIZE) | SWP_NOZORDER | SWP_NOACTIVATE);
        return Json{{"ok", ok != FALSE}};
    }
    if (cmd == L"scrollbar" && a.size() >= 2) return ScrollBar(ParseHwnd(a[1]));
    if (cmd == L"state" && a.size() >= 2) return State(ParseHwnd(a[1]));
    if (cmd == L"res" && a.size() >= 2) {
        DWORD pid = static_cast<DWORD>(ParseNumber(a[1]));
        HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (!p) return Error("OpenProcess failed");
        DWORD handles = 0;
        BOOL have_handles = GetProcessHandleCount(p, &handles);
        Json j;
        j["user"] = GetGuiResources(p, GR_USEROBJECTS);
        j["gdi"] = GetGuiResources(p, GR_GDIOBJECTS);
        j["userPeak"] = GetGuiResources(p, 4);  // GR_USEROBJECTS_PEAK
        j["gdiPeak"] = GetGuiResources(p, 2);   // GR_GDIOBJECTS_PEAK
        j["handles"] = have_handles ? Json(handles) : Json(nullptr);
        CloseHandle(p);
        return j;
    }
    if (cmd == L"thread-windows" && a.size() >= 2) {
        DWORD tid = GetWindowThreadProcessId(ParseHwnd(a[1]), nullptr);
        if (!tid) return Error("no such window");
        Counter c;
        EnumThreadWindows(tid, CountTop, reinterpret_cast<LPARAM>(&c));
        return Json{{"top", c.top}, {"children", c.children}};
    }
    if (cmd == L"colorkey" && a.size() >= 3) {
        HWND hwnd = ParseHwnd(a[1]);
        SetWindowLongW(hwnd, GWL_EXSTYLE, GetWindowLongW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
        BOOL ok = SetLayeredWindowAttributes(hwnd, static_cast<COLORREF>(ParseNumber(a[2])), 255, LWA_COLORKEY);
        return Json{{"ok", ok != FALSE}};
    }
    if (cmd == L"layered" && a.size() >= 2) {
        Json j = Json::object();
        StyleAndLayered(j, ParseHwnd(a[1]));
        return j;
    }
    if (cmd == L"boxes" && a.size() >= 2) {
        BoxFilter f{static_cast<DWORD>(ParseNumber(a[1])), {}};
        EnumWindows(FindBoxes, reinterpret_cast<LPARAM>(&f));
        Json boxes = Json::array();
        for (HWND b : f.found) boxes.push_back(HandleValue(b));
        return Json{{"boxes", std::move(boxes)}};
    }
    if (cmd == L"ping" && a.size() >= 3) {
        DWORD_PTR dummy = 0;
        DWORD started = GetTickCount();
        BOOL ok = SendMessageTimeoutW(ParseHwnd(a[1]), WM_NULL, 0, 0, SMTO_NORMAL,
                                      static_cast<UINT>(ParseNumber(a[2])), &dummy);
        return Json{{"answers", ok != FALSE}, {"ms", GetTickCount() - started}};
    }
    if ((cmd == L"settext" || cmd == L"replacesel") && a.size() >= 4) {
        std::wstring text = MakeText(ParseNumber(a[2]), ParseNumber(a[3]));
        DWORD_PTR result = 0;
        UINT msg = cmd == L"settext" ? WM_SETTEXT : EM_REPLACESEL;
        WPARAM wp = cmd == L"settext" ? 0 : TRUE;
        BOOL ok = SendMessageTimeoutW(ParseHwnd(a[1]), msg, wp, reinterpret_cast<LPARAM>(text.c_str()),
                                      SMTO_NORMAL, 10000, &result);
        return Json{{"ok", ok != FALSE}, {"result", static_cast<long long>(result)}, {"sum", Checksum(text)}};
    }
    if (cmd == L"textlen" && a.size() >= 2) {
        DWORD_PTR length = 0;
        BOOL ok = SendMessageTimeoutW(ParseHwnd(a[1]), WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
        return Json{{"ok", ok != FALSE}, {"length", static_cast<long long>(length)}};
    }
    if (cmd == L"textsum" && a.size() >= 2) {
        bool answered = true;
        std::wstring text = WindowText(ParseHwnd(a[1]), &answered);
        return Json{{"ok", answered},
                    {"length", static_cast<long long>(text.size())},
                    {"sum", Checksum(text)},
                    {"head", Utf8(text.substr(0, 40))},
                    {"tail", Utf8(text.size() > 40 ? text.substr(text.size() - 40) : text)}};
    }
    if (cmd == L"clip-set" && a.size() >= 3) {
        std::wstring text = MakeText(ParseNumber(a[1]), ParseNumber(a[2]));
        bool ok = SetClipboardText(text);
        return Json{{"ok", ok}, {"sum", Checksum(text)}};
    }
    if (cmd == L"clip-get") {
        if (!OpenClipboard(nullptr)) return Error("OpenClipboard failed");
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        std::wstring text;
        if (data) {
            const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(data));
            if (p) text = p;
            GlobalUnlock(data);
        }
        CloseClipboard();
        return Json{{"ok", data != nullptr}, {"length", static_cast<long long>(text.size())}, {"sum", Checksum(text)}};
    }
    if (cmd == L"missing-glyphs" && a.size() >= 2) {
        bool answered = true;
        const std::wstring text = WindowText(ParseHwnd(a[1]), &answered);
        if (!answered) return Error("the window does not answer");
        return Json{{"text", Utf8(text)}, {"missing", Utf8(MissingGlyphs(text))}};
    }
    return Error("unknown command or missing arguments");
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return e2e::CommandMain(argc, argv, &Run); }
