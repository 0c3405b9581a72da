// The tool window with real windows, in this process, under Windows or Wine,
// as a user meets it; no objects left behind; and the program's start in every
// state, and its error reports.
#include <optional>
#include <string>

#include "error_report.h"
#include "form1.h"
#include "form1_ids.h"
#include "user32.h"
#include "wine_test.h"

namespace kavrelo::test {
namespace {

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

// Twips to pixels at a DPI, to the nearest pixel.
int Px(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

const wchar_t kNotice[] =
    L"声明：本软件仅用作交流使用，禁止用于其他用途，若因使用不当造成的一切后果自负。\r\n"
    L"邮箱：kavrelo@example.com\r\n"
    L"官方网站：https://www.example.com/kavrelo\r\n"
    L"感谢下载！\r\n"
    L"    Pelloria\r\n";

// In tab (and z) order, the box in twips; a label's size (0) follows its text.
struct Expected { int id; const wchar_t* cls; int x, y, width, height; const wchar_t* text; };
const Expected kControls[] = {
    {kIdHScroll1, L"ScrollBar", 120, 480, 6015, 255, L""},
    {kIdLabel1, L"Static", 240, 960, 0, 0, L"0"},
    {kIdLabel2, L"Static", 120, 120, 0, 0, L"0"},
    {kIdLabel4, L"Static", 5760, 960, 0, 0, L"255"},
    {kIdLabel5, L"Static", 840, 960, 0, 0, L"请将鼠标移至欲调整的窗口上，按F1后调整滚动条。"},
    {kIdLabel3, L"Static", 5400, 120, 0, 0, L"未设置窗口"},
    {kIdLabel6, L"Static", 120, 1320, 0, 0, L"版本：1.0"},
    {kIdText1, L"Edit", 120, 1680, 6135, 1215, kNotice},
};
const wchar_t kNoTarget[] = L"未设置窗口";

// A control's box in its parent's client coordinates.
RECT BoxOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A control's font: what its texts measure, and which characters it lacks.
class FontDC {
public:
    explicit FontDC(HWND control) : dc_(CreateCompatibleDC(nullptr)) {
        old_ = SelectObject(dc_, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        GetTextMetricsW(dc_, &metrics);
    }
    ~FontDC() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    int width(const std::wstring& text) {
        SIZE size{};
        GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }
    std::wstring missingGlyphs(const std::wstring& text) {
        std::wstring missing;
        std::vector<WORD> glyphs(text.size());
        GetGlyphIndicesW(dc_, text.c_str(), static_cast<int>(text.size()), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
        for (size_t i = 0; i < text.size(); ++i) {
            if (glyphs[i] == 0xFFFF && text[i] != L'\r' && text[i] != L'\n') missing += text[i];
        }
        return missing;
    }
    TEXTMETRICW metrics{};

private:
    HDC dc_;
    HGDIOBJ old_;
};

// SetTimer as the form calls it, recorded.
struct TimerCall { HWND window; UINT_PTR id; UINT ms; };
std::vector<TimerCall> g_timers;
decltype(&SetTimer) g_setTimer = nullptr;
UINT_PTR WINAPI RecordingSetTimer(HWND window, UINT_PTR id, UINT ms, TIMERPROC proc) {
    g_timers.push_back({window, id, ms});
    return g_setTimer(window, id, ms, proc);
}

class ToolWindow : public ::testing::Test {
protected:
    ToolWindow() { g_setTimer = setTimer_.original<decltype(&SetTimer)>(); }
    void TearDown() override {
        tool.reset();
        TakeQuit();
    }
    void open(int dpi = 96, WindowSystem* system = nullptr) {
        g_timers.clear();
        tool.emplace(Instance(), system != nullptr ? *system : ws, dpi);
    }
    Form& form() { return tool->form(); }
    HWND window() { return form().hwnd(); }
    HWND control(int id) { return GetDlgItem(window(), id); }
    std::wstring text(int id) { return TextOf(control(id)); }
    int value() { return GetScrollPos(control(kIdHScroll1), SB_CTL); }
    void tick() { SendMessageW(window(), WM_TIMER, g_timers.at(0).id, 0); }
    void scroll(int code, int position = 0, HWND from = nullptr) {
        SendMessageW(window(), WM_HSCROLL, MAKEWPARAM(code, position),
                     reinterpret_cast<LPARAM>(from != nullptr ? from : control(kIdHScroll1)));
    }
    void capture(Handle target) {
        ws.under = target;
        ws.f1Down = true;
        tick();
        ws.f1Down = false;
    }
    // The bar at `value`, Label1 showing it, the last change 255 - value on target.
    void expectApplied(int expected, Handle target, size_t changes) {
        EXPECT_EQ(value(), expected);
        EXPECT_EQ(text(kIdLabel1), std::to_wstring(expected));
        ASSERT_EQ(ws.alphas.size(), changes) << "one change applied per change of the value";
        EXPECT_EQ(ws.alphas.back().window, target);
        EXPECT_EQ(ws.alphas.back().alpha, 255 - expected);
    }

    ImportPatch setTimer_{"user32.dll", "SetTimer", reinterpret_cast<void*>(&RecordingSetTimer)};
    FakeWindowSystem ws;
    std::optional<Form1> tool;
};

// ---- the window as it opens ----

class Layout : public ToolWindow, public ::testing::WithParamInterface<int> {};

TEST_P(Layout, EveryControlWhereItsTwipsPutItEveryLabelSizedToItsTextEveryGlyphThere) {
    const int dpi = GetParam();
    open(dpi);
    RECT client{};
    GetClientRect(window(), &client);
    EXPECT_TRUE(client.right == Px(6405, dpi) && client.bottom == Px(3090, dpi)) << client.right << "x" << client.bottom;
    FontDC font(control(kIdLabel1));
    EXPECT_GE(font.metrics.tmHeight, (9 * dpi + 36) / 72) << "the font is 9 points at this DPI";
    std::vector<RECT> boxes;
    HWND c = GetWindow(window(), GW_CHILD);
    for (const Expected& e : kControls) {
        ASSERT_NE(c, nullptr);
        SCOPED_TRACE(e.text);
        wchar_t cls[32] = {};
        GetClassNameW(c, cls, 32);
        EXPECT_TRUE(GetDlgCtrlID(c) == e.id && lstrcmpiW(cls, e.cls) == 0 && TextOf(c) == e.text) << cls;
        const LONG style = GetWindowLongW(c, GWL_STYLE);
        EXPECT_TRUE(style & WS_VISIBLE);
        const RECT r = BoxOf(c);
        EXPECT_TRUE(r.left == Px(e.x, dpi) && r.top == Px(e.y, dpi)) << r.left << "," << r.top;
        if (e.width != 0) {
            EXPECT_TRUE(r.right - r.left == Px(e.width, dpi) && r.bottom - r.top == Px(e.height, dpi) && (style & WS_TABSTOP));
        } else {  // sized to its text; a label never takes the focus
            EXPECT_TRUE(r.right - r.left == font.width(e.text) && r.bottom - r.top == font.metrics.tmHeight);
            EXPECT_FALSE(style & WS_TABSTOP);
        }
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom);
        EXPECT_EQ(font.missingGlyphs(e.text), L"") << "characters shown as boxes";
        for (const RECT& other : boxes) {
            EXPECT_FALSE(r.left < other.right && other.left < r.right && r.top < other.bottom && other.top < r.bottom)
                << "overlaps another control";
        }
        boxes.push_back(r);
        c = GetWindow(c, GW_HWNDNEXT);
    }
    EXPECT_EQ(c, nullptr) << "no other control";
}

INSTANTIATE_TEST_SUITE_P(Dpi, Layout, ::testing::Values(96, 120, 144));

// The layout as a user sees it: client area, font height, every control's box.
std::vector<LONG> Geometry(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    std::vector<LONG> g{client.right, client.bottom, FontDC(GetDlgItem(window, kIdLabel1)).metrics.tmHeight};
    for (HWND c = GetWindow(window, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        const RECT r = BoxOf(c);
        g.insert(g.end(), {r.left, r.top, r.right, r.bottom});
    }
    return g;
}

TEST_F(ToolWindow, MovedToAMonitorOfAnotherDpiItIsLaidOutAsIfBuiltThereAndKeepsItsState) {
    const auto adjust = OptionalUser32Entry<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    // The same target and value here and in a window built at a DPI.
    const auto setUp = [&](HWND w) {
        ws.under = 4242;
        ws.f1Down = true;
        SendMessageW(w, WM_TIMER, g_timers.at(0).id, 0);
        ws.f1Down = false;
        SendMessageW(w, WM_HSCROLL, SB_PAGERIGHT, reinterpret_cast<LPARAM>(GetDlgItem(w, kIdHScroll1)));
    };
    open(96);
    setUp(window());
    const std::vector<LONG> at96 = Geometry(window());
    SetFocus(control(kIdText1));
    HeldObjects held;
    for (const int dpi : {144, 96}) {
        // Asked first (per-monitor v2): the size its client area needs there.
        RECT needed{0, 0, Px(6405, dpi), Px(3090, dpi)};
        if (adjust != nullptr) {
            SIZE size{};
            EXPECT_TRUE(SendMessageW(window(), 0x02E4 /* WM_GETDPISCALEDSIZE */, dpi, reinterpret_cast<LPARAM>(&size)));
            adjust(&needed, GetWindowLongW(window(), GWL_STYLE), FALSE, GetWindowLongW(window(), GWL_EXSTYLE), dpi);
            EXPECT_TRUE(size.cx == needed.right - needed.left && size.cy == needed.bottom - needed.top) << dpi;
        }
        RECT suggested{100, 80, 100 + needed.right - needed.left, 80 + needed.bottom - needed.top};
        SendMessageW(window(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        Form1 built(Instance(), ws, dpi);
        setUp(built.form().hwnd());
        EXPECT_EQ(Geometry(window()), Geometry(built.form().hwnd())) << dpi;
        RECT now{};
        GetWindowRect(window(), &now);
        EXPECT_TRUE(now.left == 100 && now.top == 80) << "where Windows suggested, at " << dpi;
    }
    EXPECT_EQ(held.counts(), (std::array<long, 4>{})) << "windows, GDI objects and DCs, icons, heap blocks";
    EXPECT_EQ(Geometry(window()), at96);
    EXPECT_TRUE(value() == 10 && text(kIdLabel1) == L"10" && text(kIdLabel3) == L"4242" && GetFocus() == control(kIdText1));
}

TEST_F(ToolWindow, IsAFixedWindowWithCloseAndMoveOnlyABarOf0To255AndAnEditableNotice) {
    open();
    EXPECT_EQ(TextOf(window()), L"Kavrelo");
    const LONG style = GetWindowLongW(window(), GWL_STYLE), exStyle = GetWindowLongW(window(), GWL_EXSTYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_FALSE(exStyle & (WS_EX_TOPMOST | WS_EX_LAYERED));
    EXPECT_EQ(GetWindow(window(), GW_OWNER), nullptr);
    HMENU menu = GetSystemMenu(window(), FALSE);
    for (UINT kept : {SC_MOVE, SC_CLOSE}) EXPECT_NE(GetMenuState(menu, kept, MF_BYCOMMAND), ~0u) << kept;
    for (UINT gone : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) EXPECT_EQ(GetMenuState(menu, gone, MF_BYCOMMAND), ~0u) << gone;
    int low = -1, high = -1;
    GetScrollRange(control(kIdHScroll1), SB_CTL, &low, &high);
    EXPECT_TRUE(low == 0 && high == 255 && value() == 0);
    EXPECT_FALSE(GetWindowLongW(control(kIdHScroll1), GWL_STYLE) & SBS_VERT);
    const LONG edit = GetWindowLongW(control(kIdText1), GWL_STYLE);
    EXPECT_TRUE(edit & ES_MULTILINE);
    EXPECT_FALSE(edit & (ES_READONLY | WS_VSCROLL | WS_HSCROLL));
}

// ---- the timer and the tick ----

TEST_F(ToolWindow, TicksEveryTenthOfASecondThroughItsMessageLoop) {
    open();
    ASSERT_TRUE(setTimer_.applied());
    ASSERT_EQ(g_timers.size(), 1u);
    EXPECT_TRUE(g_timers[0].window == window() && g_timers[0].ms == 100u) << g_timers[0].ms;
    EXPECT_TRUE(PumpUntil([&] { return ws.ticks >= 3; }, 10000, &form()));
}

TEST_F(ToolWindow, LabelsFollowTheirTextsFromAFixedLeftEdge) {
    open();
    FontDC font(control(kIdLabel2));
    const RECT label2 = BoxOf(control(kIdLabel2)), label3 = BoxOf(control(kIdLabel3));
    ws.under = INT32_MIN;
    tick();
    EXPECT_EQ(text(kIdLabel2), L"-2147483648");
    EXPECT_EQ(text(kIdLabel3), kNoTarget);
    RECT now = BoxOf(control(kIdLabel2));
    EXPECT_TRUE(now.left == label2.left && now.right - now.left == font.width(L"-2147483648"));

    capture(12345);
    EXPECT_EQ(text(kIdLabel3), L"12345");
    now = BoxOf(control(kIdLabel3));
    EXPECT_TRUE(now.left == label3.left && now.right - now.left == font.width(L"12345"));
    ws.under = 0;
    tick();
    EXPECT_EQ(text(kIdLabel2), L"0");
    EXPECT_EQ(BoxOf(control(kIdLabel2)).right - label2.left, font.width(L"0"));
    EXPECT_EQ(text(kIdLabel3), L"12345") << "the target stays once F1 is up";
    EXPECT_TRUE(ws.alphas.empty()) << "a capture alone changes no window";
}

TEST_F(ToolWindow, TicksAndChangesLeaveNoWindowObjectOrHeapBlockBehind) {
    open();
    const auto run = [&](int times) {
        for (int i = 0; i < times; ++i) {
            ws.under = i * 1000003 - 30000000;  // texts of every length
            ws.f1Down = i % 3 == 0;
            tick();
            scroll(i % 2 ? SB_PAGERIGHT : SB_LINELEFT);
        }
    };
    capture(4242);
    run(10);  // whatever is made once, on first use
    HeldObjects held;
    ASSERT_TRUE(held.applied());
    run(60);
    EXPECT_EQ(held.counts(), (std::array<long, 4>{})) << "windows, GDI objects and DCs, icons, heap blocks";
    EXPECT_EQ(held.uncounted(), "");
}

// ---- the bar ----

TEST_F(ToolWindow, EveryChangeOfTheBarIsAppliedOnceAndNoneWhileTheThumbIsDragged) {
    open();
    scroll(SB_LINERIGHT);
    EXPECT_EQ(text(kIdLabel1), L"1") << "before any capture Label1 follows the bar";
    EXPECT_TRUE(ws.alphas.empty()) << "and no window changes";
    scroll(SB_LEFT);

    capture(4242);
    size_t changes = 0;
    const struct { int code, position, value; } steps[] = {
        {SB_LINERIGHT, 0, 1},         {SB_PAGERIGHT, 0, 11}, {SB_LINELEFT, 0, 10}, {SB_PAGELEFT, 0, 0},
        {SB_RIGHT, 0, 255},           {SB_LINERIGHT, 0, 255}, {SB_LEFT, 0, 0},     {SB_LINELEFT, 0, 0},
        {SB_THUMBPOSITION, 77, 77},  // as an automation tool sets it
        {SB_THUMBPOSITION, 300, 255},
    };
    for (const auto& step : steps) {
        const bool moves = step.value != value();
        scroll(step.code, step.position);
        changes += moves;
        expectApplied(step.value, 4242, changes);
    }
    // A drag: nothing changes until the thumb is dropped, and then once.
    scroll(SB_THUMBTRACK, 120);
    scroll(SB_THUMBTRACK, 200);
    EXPECT_EQ(text(kIdLabel1), L"255");
    EXPECT_EQ(ws.alphas.size(), changes);
    scroll(SB_THUMBPOSITION, 200);
    scroll(SB_ENDSCROLL);
    expectApplied(200, 4242, ++changes);
    // A scroll message that names another window is not the bar's.
    for (HWND other : {window(), control(kIdText1)}) scroll(SB_LINERIGHT, 0, other);
    expectApplied(200, 4242, changes);
}

TEST_F(ToolWindow, EachNotchOfTheWheelOrOfItsTiltIsOneStepOfTheBarWhereverTheSystemSendsIt) {
    // Towards the user is right, as on Windows' sliders; so is a tilt to the right.
    for (const auto& [message, right] : {std::pair{UINT{WM_MOUSEWHEEL}, -WHEEL_DELTA}, {UINT{0x020E}, WHEEL_DELTA}}) {
        open();
        ws.alphas.clear();
        capture(4242);
        const auto turn = [&](int thirds) { SendMessageW(window(), message, MAKEWPARAM(0, right * thirds / 3), 0); };
        turn(3);
        expectApplied(1, 4242, 1);
        turn(9);
        expectApplied(4, 4242, 4);
        turn(-3);
        expectApplied(3, 4242, 5);
        turn(1);
        turn(1);
        EXPECT_EQ(value(), 3) << "two thirds of a notch";
        turn(1);
        expectApplied(4, 4242, 6);
        // Posted to the control with the focus or under the pointer.
        for (int id : {kIdText1, kIdHScroll1, kIdLabel5}) PostMessageW(control(id), message, MAKEWPARAM(0, right), 0);
        EXPECT_TRUE(PumpUntil([&] { return value() == 7; }, 5000, &form())) << message;
        expectApplied(7, 4242, 9);
    }
}

// ---- the keyboard, the focus and the mouse as a user meets them ----

// A key pressed and released, with a modifier key (Shift, Ctrl) held.
void Press(WORD key, WORD modifier = 0) {
    INPUT in[4] = {};
    int n = 0;
    const auto add = [&](WORD vk, DWORD flags) {
        in[n].type = INPUT_KEYBOARD;
        in[n].ki.wVk = vk;
        in[n++].ki.dwFlags = flags;
    };
    if (modifier != 0) add(modifier, 0);
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (modifier != 0) add(modifier, KEYEVENTF_KEYUP);
    SendInput(n, in, sizeof(INPUT));
}

TEST_F(ToolWindow, TheKeyboardMovesTheBarTabMovesTheFocusAndTheFocusComesBack) {
    open();
    form().show(SW_SHOWNORMAL);
    SetForegroundWindow(window());
    HWND bar = control(kIdHScroll1), text1 = control(kIdText1);
    const auto focusOn = [&](HWND expected) { return PumpUntil([&] { return GetFocus() == expected; }, 5000, &form()); };
    ASSERT_TRUE(focusOn(bar)) << "the bar has the focus when the window opens";
    capture(4242);
    const struct { WORD key; int value; } keys[] = {{VK_RIGHT, 1}, {VK_NEXT, 11}, {VK_END, 255}, {VK_LEFT, 254}, {VK_HOME, 0}};
    for (const auto& k : keys) {
        Press(k.key);
        EXPECT_TRUE(PumpUntil([&] { return value() == k.value; }, 5000, &form())) << k.key;
    }
    expectApplied(0, 4242, 5);

    for (const auto& [shift, to] : {std::pair{WORD{0}, text1}, {WORD{0}, bar}, {WORD{VK_SHIFT}, text1}, {WORD{VK_SHIFT}, bar}, {WORD{0}, text1}}) {
        Press(VK_TAB, shift);
        EXPECT_TRUE(focusOn(to)) << (shift ? "Shift+Tab" : "Tab");
    }
    DWORD start = 1, end = 0;
    SendMessageW(text1, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_TRUE(start == 0 && end == static_cast<DWORD>(GetWindowTextLengthW(text1))) << "the text selected by Tab";

    // Typed in the text box: Enter breaks the line, Escape does nothing, nothing closes; a long paste stays whole.
    for (WORD key : {WORD{VK_END}, WORD{'Z'}, WORD{VK_ESCAPE}, WORD{VK_RETURN}}) Press(key);
    const std::wstring typed = std::wstring(kNotice) + L"z\r\n";
    EXPECT_TRUE(PumpUntil([&] { return TextOf(text1) == typed; }, 5000, &form())) << "typed, no tab";
    std::wstring pasted;  // beyond the 30,000 characters an edit control holds unless told otherwise
    while (pasted.size() < 40000) pasted += std::wstring(78, L'x') + L"\r\n";
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, (pasted.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(data), pasted.c_str(), (pasted.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(data);
    ASSERT_TRUE(OpenClipboard(window()) && EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, data) && CloseClipboard());
    Press('V', VK_CONTROL);
    EXPECT_TRUE(PumpUntil([&] { return GetWindowTextLengthW(text1) == static_cast<int>(typed.size() + pasted.size()); },
                          5000, &form())) << GetWindowTextLengthW(text1);
    EXPECT_TRUE(IsWindow(window()) && IsWindowVisible(window()));
    EXPECT_TRUE(value() == 0 && text(kIdLabel1) == L"0" && text(kIdLabel3) == L"4242");

    // Another window activated, then this one again: the focus comes back.
    HWND other = CreateWindowExW(0, L"Static", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500, 300, 200, 100,
                                 nullptr, nullptr, Instance(), nullptr);
    SetForegroundWindow(other);
    EXPECT_TRUE(PumpUntil([&] { return GetFocus() != text1; }, 5000, &form()));
    SetForegroundWindow(window());
    EXPECT_TRUE(focusOn(text1)) << "the focus back where it was";
    DestroyWindow(other);

    // The wheel, turned with the pointer over the window.
    RECT r{};
    GetWindowRect(control(kIdLabel5), &r);
    SetCursorPos(r.left + 5, r.top + 3);
    INPUT wheel{};
    wheel.type = INPUT_MOUSE;
    wheel.mi.dwFlags = MOUSEEVENTF_WHEEL;
    wheel.mi.mouseData = static_cast<DWORD>(-WHEEL_DELTA);
    SendInput(1, &wheel, sizeof wheel);
    EXPECT_TRUE(PumpUntil([&] { return value() == 1; }, 5000, &form())) << "the wheel moves the bar";
    wheel.mi.dwFlags = MOUSEEVENTF_HWHEEL;
    wheel.mi.mouseData = WHEEL_DELTA;
    SendInput(1, &wheel, sizeof wheel);
    EXPECT_TRUE(PumpUntil([&] { return value() == 2; }, 5000, &form())) << "and its tilt";
}

// ---- the icons ----

struct DestroyedIcon { HICON icon; bool windowExisted; };
std::vector<DestroyedIcon> g_destroyed;
decltype(&DestroyIcon) g_destroyIcon = nullptr;
HWND g_iconWindow = nullptr;
BOOL WINAPI RecordingDestroyIcon(HICON icon) {
    g_destroyed.push_back({icon, IsWindow(g_iconWindow) != FALSE});
    return g_destroyIcon(icon);
}

// An icon as a user sees it: drawn at that size over a background no image has.
std::vector<DWORD> Drawn(HICON icon, int size) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    DWORD* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    std::fill_n(bits, size * size, 0x00FF00FFu);
    DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    GdiFlush();
    const std::vector<DWORD> pixels(bits, bits + size * size);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

// The image of the executable's icon group that Windows picks for that size.
HICON FiledImage(int size) {
    const auto load = [](LPCWSTR name, LPCWSTR type) {
        return static_cast<BYTE*>(LockResource(LoadResource(nullptr, FindResourceW(nullptr, name, type))));
    };
    const int id = LookupIconIdFromDirectoryEx(load(MAKEINTRESOURCEW(1), RT_GROUP_ICON), TRUE, size, size, 0);
    HRSRC image = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_ICON);
    return CreateIconFromResourceEx(load(MAKEINTRESOURCEW(id), RT_ICON), SizeofResource(nullptr, image), TRUE,
                                    0x00030000, size, size, 0);
}

TEST_F(ToolWindow, ShowsTheIconSetsOwnImageAtBothSizesAndDestroysItsSmallIconOnceAfterTheWindow) {
    ImportPatch patch("user32.dll", "DestroyIcon", reinterpret_cast<void*>(&RecordingDestroyIcon));
    ASSERT_TRUE(patch.applied());
    g_destroyIcon = patch.original<decltype(&DestroyIcon)>();
    g_destroyed.clear();
    open();
    g_iconWindow = window();
    auto big = reinterpret_cast<HICON>(SendMessageW(window(), WM_GETICON, ICON_BIG, 0));
    auto small = reinterpret_cast<HICON>(SendMessageW(window(), WM_GETICON, ICON_SMALL, 0));
    for (const auto& [icon, size] : {std::pair{big, GetSystemMetrics(SM_CXICON)}, {small, GetSystemMetrics(SM_CXSMICON)}}) {
        HICON filed = FiledImage(size);
        EXPECT_EQ(Drawn(icon, size), Drawn(filed, size)) << size << ": not the set's own image of that size";
        g_destroyIcon(filed);
    }
    EXPECT_TRUE(g_destroyed.empty());
    tool.reset();
    ASSERT_EQ(g_destroyed.size(), 1u);
    EXPECT_TRUE(g_destroyed[0].icon == small && !g_destroyed[0].windowExisted);
    ICONINFO info{};
    EXPECT_TRUE(GetIconInfo(big, &info)) << "the shared large icon is the system's, and stays";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

// ---- the program: its start and its errors ----

// Whether each ShowWindow of the program's was one whose command Windows
// replaces by the launcher's (STARTUPINFO) at the first show of a captioned
// top-level window: SW_SHOW, SW_SHOWNORMAL or SW_SHOWDEFAULT (Wine's
// conformance tests). Wine 8 replaces none: the tests see what is asked.
std::vector<bool> g_replaceable;
decltype(&ShowWindow) g_showWindow = nullptr;
BOOL WINAPI RecordingShowWindow(HWND window, int command) {
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    g_replaceable.push_back(!(style & WS_CHILD) && (style & WS_CAPTION) == WS_CAPTION &&
                            (command == SW_SHOW || command == SW_SHOWNORMAL || command == SW_SHOWDEFAULT));
    return g_showWindow(window, command);
}
struct RecordedShows : ImportPatch {
    RecordedShows() : ImportPatch("user32.dll", "ShowWindow", reinterpret_cast<void*>(&RecordingShowWindow)) {
        g_showWindow = original<decltype(&ShowWindow)>();
        g_replaceable.clear();
    }
};

TEST(Program, EveryStartStateLeavesAUsableWindowAtItsOwnSizeAndTheSystemsDpiDeclaredDpiAware) {
    // The DPI the system reports: the prefix's (scripts/wine-run).
    const int dpi = ScreenDpi();
    wchar_t prefixDpi[8] = L"96";
    GetEnvironmentVariableW(L"KAVRELO_DPI", prefixDpi, 8);
    ASSERT_EQ(dpi, _wtoi(prefixDpi));
    const auto has = [](const char* entry) { return GetProcAddress(GetModuleHandleW(L"user32"), entry) != nullptr; };
    // The launcher's command, and whether the window then stays minimized.
    for (const auto& [launcher, minimized] : {std::pair{SW_HIDE, false}, {SW_SHOWNORMAL, false}, {SW_SHOWMINIMIZED, true},
                                              {SW_SHOWMAXIMIZED, false}, {SW_SHOWNOACTIVATE, false}, {SW_SHOW, false},
                                              {SW_MINIMIZE, true}, {SW_SHOWMINNOACTIVE, true}, {SW_SHOWNA, false},
                                              {SW_RESTORE, false}, {SW_SHOWDEFAULT, false}, {SW_FORCEMINIMIZE, true}}) {
        DpiCalls calls;
        RecordedShows shows;
        ASSERT_TRUE(calls.applied() && shows.applied());
        FakeWindowSystem ws;
        std::optional<std::array<LONG, 5>> seen;  // visible, minimized, zoomed, client width and height
        ws.onTick = [&] {
            HWND w = FindWindowW(L"KavreloForm", L"Kavrelo");
            RECT client{};
            GetClientRect(w, &client);
            if (!seen) seen = {IsWindowVisible(w), IsIconic(w), IsZoomed(w), client.right, client.bottom};
            PostMessageW(w, WM_CLOSE, 0, 0);
        };
        EXPECT_EQ(RunKavrelo(Instance(), ws, launcher), 0);
        ASSERT_TRUE(seen) << launcher;
        EXPECT_TRUE((*seen)[0] && !(*seen)[1] == !minimized && !(*seen)[2]) << launcher;
        EXPECT_TRUE(minimized || ((*seen)[3] == Px(6405, dpi) && (*seen)[4] == Px(3090, dpi))) << launcher;
        ASSERT_FALSE(g_replaceable.empty());
        EXPECT_FALSE(g_replaceable[0]) << "on Windows, the launcher's command instead: " << launcher;
        // Per-monitor aware where Windows has it (10 1703), else system-aware
        // where it has that (Vista; Wine 8 refuses the first), before any
        // window: else Windows would stretch it as a picture.
        EXPECT_TRUE(!has("SetProcessDpiAwarenessContext") || DpiCalls::perMonitor.set == -4);
        EXPECT_TRUE(!has("SetProcessDPIAware") || DpiCalls::declared == (DpiCalls::perMonitor.returned ? 0 : 1));
        EXPECT_FALSE(DpiCalls::windowBeforeDeclared);
    }
}

TEST(Program, AnUntrappedErrorOfTheTickIsReportedOnceAndEndsTheProgram) {
    User32Entries entries;
    entries.getCursorPos = "GetCursorPos_unbound";
    User32WindowSystem ws(entries);
    ErrorBoxWatcher watcher(800);
    EXPECT_EQ(RunKavrelo(Instance(), ws, SW_SHOWNORMAL), kExitUntrappedError);
    watcher.finish();
    EXPECT_TRUE(watcher.stayedUp && watcher.ownerClass == L"KavreloForm");
    EXPECT_EQ(watcher.boxes, 1) << "no further tick while it is shown";
    for (const wchar_t* part : {L"运行时错误 453", L"GetCursorPos_unbound", L"user32", L"程序将退出"}) {
        EXPECT_NE(watcher.text.find(part), std::wstring::npos) << watcher.text.size();
    }
    EXPECT_EQ(FindWindowW(L"KavreloForm", nullptr), nullptr);
}

LRESULT CALLBACK RefuseTextBoxes(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND) {
        const wchar_t* cls = reinterpret_cast<CBT_CREATEWNDW*>(lp)->lpcs->lpszClass;
        if (!IS_INTRESOURCE(cls) && lstrcmpiW(cls, L"Edit") == 0) return 1;
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

TEST(Program, AnErrorWhileBuildingTheWindowIsReportedUntilDismissed) {
    // The text box cannot be created, after the window and the controls before it.
    HHOOK hook = SetWindowsHookExW(WH_CBT, &RefuseTextBoxes, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    FakeWindowSystem ws;
    RecordedShows shows;
    ErrorBoxWatcher watcher(1000);
    const int code = RunKavrelo(Instance(), ws, SW_SHOWNORMAL);
    watcher.finish();
    UnhookWindowsHookEx(hook);
    // Before the report, a first show Windows leaves as asked: not the report's.
    ASSERT_FALSE(g_replaceable.empty());
    EXPECT_FALSE(g_replaceable[0]);
    EXPECT_EQ(code, kExitUntrappedError);
    EXPECT_TRUE(watcher.stayedUp) << "the report closed before it was dismissed";
    EXPECT_EQ(watcher.ownerClass, L"") << "nothing half-built owns it";
    for (const wchar_t* part : {L"运行时错误 7", L"无法创建文本框", L"程序将退出"}) {
        EXPECT_NE(watcher.text.find(part), std::wstring::npos);
    }
    EXPECT_TRUE(FindWindowW(L"KavreloForm", nullptr) == nullptr && ws.ticks == 0);
}

// The real window system without SetLayeredWindowAttributes, F1 down on `target`.
struct WithoutLayeredAttributes final : WindowSystem {
    explicit WithoutLayeredAttributes(Handle target) : target(target) {}
    std::int32_t GetCursorPos(Point* p) override { return real.GetCursorPos(p); }
    Handle WindowFromPoint(std::int32_t, std::int32_t) override { return target; }
    std::int16_t GetKeyState(std::int32_t) override { return -1; }
    std::int32_t GetWindowLongA(Handle h, std::int32_t i) override { return real.GetWindowLongA(h, i); }
    std::int32_t SetWindowLongA(Handle h, std::int32_t i, std::int32_t v) override { return real.SetWindowLongA(h, i, v); }
    std::int32_t SetLayeredWindowAttributes(Handle h, std::uint32_t k, std::uint8_t a, std::uint32_t f) override {
        return real.SetLayeredWindowAttributes(h, k, a, f);
    }
    static User32Entries Entries() {
        User32Entries entries;
        entries.setLayeredWindowAttributes = "SetLayeredWindowAttributes_unbound";
        return entries;
    }
    Handle target;
    User32WindowSystem real{Entries()};
};

TEST_F(ToolWindow, AnErrorTheChangeTrapsEndsItQuietly) {
    HWND target = CreateWindowExW(0, L"Static", L"target", WS_POPUP | WS_VISIBLE, 600, 400, 50, 50, nullptr, nullptr,
                                  Instance(), nullptr);
    WithoutLayeredAttributes system(FromHwnd(target));
    open(96, &system);
    tick();
    EXPECT_EQ(text(kIdLabel3), std::to_wstring(FromHwnd(target)));
    for (int expected : {1, 2}) {
        scroll(SB_LINERIGHT);
        EXPECT_EQ(text(kIdLabel1), std::to_wstring(expected));
    }
    EXPECT_TRUE(GetWindowLongW(target, GWL_EXSTYLE) & WS_EX_LAYERED) << "the steps before the failing one";
    BYTE alpha = 0;
    DWORD flags = 0;
    EXPECT_FALSE(GetLayeredWindowAttributes(target, nullptr, &alpha, &flags) && (flags & LWA_ALPHA))
        << "no alpha was ever set";
    Pump(200, &form());
    EXPECT_EQ(FindWindowW(L"#32770", L"Kavrelo"), nullptr) << "nothing is shown";
    EXPECT_TRUE(IsWindow(window()));
    DestroyWindow(target);
}

// ---- the form's own messages ----

std::vector<HWND> g_ncDestroyed;
WNDPROC g_defWindowProc = nullptr;
LRESULT WINAPI RecordingDefWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCDESTROY) g_ncDestroyed.push_back(hwnd);
    return g_defWindowProc(hwnd, msg, wp, lp);
}

TEST(Form, TheWindowsLastMessageHasItsDefaultProcessingHoweverItGoes) {
    ImportPatch patch("user32.dll", "DefWindowProcW", reinterpret_cast<void*>(&RecordingDefWindowProc));
    ASSERT_TRUE(patch.applied());
    g_defWindowProc = patch.original<WNDPROC>();
    for (bool fromOutside : {false, true}) {
        g_ncDestroyed.clear();
        HWND window = nullptr;
        {
            Form form(Instance(), FormStyle{u"KavreloFormsTest", 3000, 1500, 0, 96, &CreateForm1Font});
            window = form.hwnd();
            if (fromOutside) DestroyWindow(window);
        }
        EXPECT_EQ(g_ncDestroyed, std::vector<HWND>{window}) << fromOutside;
    }
    TakeQuit();
}

TEST(Form, NeitherItsWindowDestroyedOutsideTheLoopNorAnErrorBoxLosesAQuit) {
    // A window destroyed outside the loop asks nobody to quit (a WM_QUIT would close the next box).
    TakeQuit();
    {
        Form form(Instance(), FormStyle{u"KavreloFormsTest", 3000, 1500, 0, 96, &CreateForm1Font});
        DestroyWindow(form.hwnd());
        EXPECT_EQ(form.run(SW_HIDE), 0) << "a form whose window is gone returns at once";
    }
    EXPECT_EQ(TakeQuit(), -1);

    // The error box stays up despite a pending quit, which it puts back.
    PostQuitMessage(5);
    ErrorBoxWatcher watcher(800);
    ShowError(nullptr, ErrorReport{7, u"无法创建文本框。"}, true);
    watcher.finish();
    EXPECT_TRUE(watcher.stayedUp);
    EXPECT_EQ(TakeQuit(), 5);
}

}  // namespace
}  // namespace kavrelo::test
