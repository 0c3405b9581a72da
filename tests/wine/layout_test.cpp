// The tool window's layout as a user sees it: each control of its table
// where its twips put it at 96, 120 and 144 dpi, each label fitted to its
// text, every glyph there; its window style; and the layout again at another
// DPI, which Windows asks for when the window moves to another monitor, and
// only at a DPI Windows could give, whatever another program sends.
#include <string>
#include <utility>
#include <vector>

#include "held_objects.h"
#include "tool_window_fixture.h"

namespace kavrelo::test {
namespace {

// ---- the window as it opens ----

class Layout : public ToolWindow, public ::testing::WithParamInterface<int> {};

// The window class of a kind of control (what automation and screen readers
// see), in lower case: class names are compared ignoring case.
std::wstring ClassName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Label: return L"static";
        case ControlKind::TextBox: return L"edit";
        case ControlKind::HScrollBar: return L"scrollbar";
    }
    return L"";
}

std::wstring ClassOf(HWND window) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    CharLowerW(name);
    return name;
}

bool Overlap(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST_P(Layout, EveryControlWhereItsTwipsPutItEveryLabelSizedToItsTextEveryGlyphThere) {
    const int dpi = GetParam();
    open(dpi);
    EXPECT_EQ(TextOf(window()), Wide(kForm1Layout.caption));
    RECT client{};
    GetClientRect(window(), &client);
    EXPECT_EQ(client.right, Px(kForm1Layout.clientWidth, dpi));
    EXPECT_EQ(client.bottom, Px(kForm1Layout.clientHeight, dpi));
    FontDC font(control(kIdLabel1));
    EXPECT_GE(font.metrics.tmHeight, (9 * dpi + 36) / 72) << "the font is 9 points at this DPI";
    std::vector<std::pair<int, RECT>> placed;
    // The controls' windows in the table's order, which is the tab order.
    HWND c = GetWindow(window(), GW_CHILD);
    for (const ControlRow& row : kForm1Controls) {
        ASSERT_NE(c, nullptr) << "no window for control " << row.id;
        const std::wstring text = Wide(row.text);
        SCOPED_TRACE(testing::Message() << "control " << row.id << " " << testing::PrintToString(text));
        EXPECT_EQ(GetDlgCtrlID(c), row.id);
        EXPECT_EQ(ClassOf(c), ClassName(row.kind));
        EXPECT_EQ(TextOf(c), text);
        const LONG style = GetWindowLongW(c, GWL_STYLE);
        EXPECT_TRUE(style & WS_VISIBLE);
        const RECT r = BoxOf(c);
        EXPECT_EQ(r.left, Px(row.box.x, dpi));
        EXPECT_EQ(r.top, Px(row.box.y, dpi));
        if (row.kind == ControlKind::Label) {  // sized to its text; a label never takes the focus
            EXPECT_EQ(r.right - r.left, font.width(text));
            EXPECT_EQ(r.bottom - r.top, font.metrics.tmHeight);
            EXPECT_FALSE(style & WS_TABSTOP);
        } else {
            EXPECT_EQ(r.right - r.left, Px(row.box.width, dpi));
            EXPECT_EQ(r.bottom - r.top, Px(row.box.height, dpi));
            EXPECT_TRUE(style & WS_TABSTOP);
        }
        EXPECT_GE(r.left, 0);
        EXPECT_GE(r.top, 0);
        EXPECT_LE(r.right, client.right);
        EXPECT_LE(r.bottom, client.bottom);
        EXPECT_EQ(font.missingGlyphs(text), L"") << "characters shown as boxes";
        for (const auto& [id, other] : placed) {
            EXPECT_FALSE(Overlap(r, other)) << "(" << r.left << ", " << r.top << ")-(" << r.right << ", " << r.bottom
                                            << ") overlaps control " << id << " at (" << other.left << ", " << other.top
                                            << ")-(" << other.right << ", " << other.bottom << ")";
        }
        placed.emplace_back(row.id, r);
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
    // The same target and value here and in a window built at a DPI.
    const auto setUp = [&](HWND w) {
        ws.under = 4242;
        ws.f1Down = true;
        SendMessageW(w, WM_TIMER, g_timers.at(0).id, 0);
        ws.f1Down = false;
        SendMessageW(w, WM_HSCROLL, SB_PAGERIGHT, reinterpret_cast<LPARAM>(GetDlgItem(w, kIdHScroll1)));
    };
    // The messages are the test's: the window stays on its monitor, and its
    // frame keeps that monitor's DPI, under Windows as under Wine.
    const int own = ScreenDpi();
    open(own);
    setUp(window());
    const std::vector<LONG> atOwn = Geometry(window());
    SetFocus(control(kIdText1));
    HeldObjects held;
    ASSERT_TRUE(held.applied());
    for (const int dpi : {own == 144 ? 96 : 144, own}) {
        // Asked first (per-monitor v2): the size the window will need there,
        // of which Windows makes the rectangle it suggests.
        SIZE size{};
        EXPECT_TRUE(SendMessageW(window(), 0x02E4 /* WM_GETDPISCALEDSIZE */, dpi, reinterpret_cast<LPARAM>(&size)));
        RECT suggested{100, 80, 100 + size.cx, 80 + size.cy};
        SendMessageW(window(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        Form1 built(Instance(), ws, dpi);
        setUp(built.form().hwnd());
        EXPECT_EQ(Geometry(window()), Geometry(built.form().hwnd())) << dpi;
        // The window is then where Windows suggested; and, at the DPI its
        // frame has, of the size it answered.
        RECT now{};
        GetWindowRect(window(), &now);
        EXPECT_EQ(now.left, suggested.left) << dpi;
        EXPECT_EQ(now.top, suggested.top) << dpi;
        if (dpi == own) {
            EXPECT_EQ(now.right - now.left, size.cx) << dpi;
            EXPECT_EQ(now.bottom - now.top, size.cy) << dpi;
        }
    }
    EXPECT_EQ(held.counts(), (std::array<long, 4>{})) << "windows, GDI objects and DCs, icons, heap blocks";
    EXPECT_EQ(held.uncounted(), "");
    EXPECT_EQ(Geometry(window()), atOwn) << "back at " << own << " dpi";
    EXPECT_EQ(value(), 10);
    EXPECT_EQ(text(kIdLabel1), L"10");
    EXPECT_EQ(text(kIdLabel3), L"4242");
    EXPECT_EQ(GetFocus(), control(kIdText1));
}

TEST_F(ToolWindow, TakesFromAnotherProgramOnlyTheDpiMessagesWindowsCouldSendAndStaysUsable) {
    const auto adjust = OptionalUser32Entry<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    open(96);
    const std::vector<LONG> at96 = Geometry(window());
    RECT placed{};
    GetWindowRect(window(), &placed);
    const auto dpiChanged = [&](WPARAM wp, const RECT* suggested) {
        SendMessageW(window(), 0x02E0 /* WM_DPICHANGED */, wp, reinterpret_cast<LPARAM>(suggested));
    };
    // Sent: a DPI of 0, below 100 % or above 500 % scaling, a different DPI for each axis.
    RECT suggested{100, 80, 700, 500};
    for (const WPARAM wp : {MAKEWPARAM(0, 0), MAKEWPARAM(95, 95), MAKEWPARAM(481, 481), MAKEWPARAM(0xFFFF, 0xFFFF),
                            MAKEWPARAM(144, 96), MAKEWPARAM(96, 144)}) {
        dpiChanged(wp, &suggested);
        EXPECT_EQ(Geometry(window()), at96) << std::hex << wp;
    }
    // The size asked for a DPI no monitor has is left to the system; so is one
    // with nowhere to put it. The whole parameter counts, its high bits too.
    std::vector<WPARAM> unusable{0, 95, 481, 0xFFFF, 0x10000 + 144, ~WPARAM{0}};
    if (sizeof(WPARAM) > 4) unusable.push_back(static_cast<WPARAM>(static_cast<unsigned long long>(1) << 32 | 144));
    for (const WPARAM dpi : unusable) {
        SIZE size{-7, -7};
        EXPECT_FALSE(SendMessageW(window(), 0x02E4 /* WM_GETDPISCALEDSIZE */, dpi, reinterpret_cast<LPARAM>(&size)))
            << std::hex << dpi;
        EXPECT_EQ(size.cx, -7) << std::hex << dpi;
        EXPECT_EQ(size.cy, -7) << std::hex << dpi;
    }
    EXPECT_FALSE(SendMessageW(window(), 0x02E4, 144, 0)) << "no size to fill";
    // Posted: Windows never posts them, and their pointers mean nothing here;
    // nor do pointers that lead nowhere, sent, or posted while a loop other
    // than the form's runs (a window moved, a message box).
    PostMessageW(window(), 0x02E0, MAKEWPARAM(144, 144), 1);
    PostMessageW(window(), 0x02E4, 144, 1);
    Pump(100, &form());
    EXPECT_EQ(Geometry(window()), at96);
    for (const LPARAM nowhere : {LPARAM{1}, LPARAM{-4096}}) {
        EXPECT_FALSE(SendMessageW(window(), 0x02E4, 144, nowhere)) << std::hex << nowhere;
        dpiChanged(MAKEWPARAM(144, 144), reinterpret_cast<const RECT*>(nowhere));
        PostMessageW(window(), 0x02E0, MAKEWPARAM(144, 144), nowhere);
        PostMessageW(window(), 0x02E4, 144, nowhere);
        Pump(100);
        EXPECT_EQ(Geometry(window()), at96) << std::hex << nowhere;
    }
    static const RECT kReadOnly{100, 80, 700, 500};
    SIZE* const readOnly = reinterpret_cast<SIZE*>(const_cast<RECT*>(&kReadOnly));
    EXPECT_FALSE(SendMessageW(window(), 0x02E4, 144, reinterpret_cast<LPARAM>(readOnly))) << "a size it cannot write";
    RECT now{};
    GetWindowRect(window(), &now);
    EXPECT_EQ(now.left, placed.left) << "the window stays where it was";
    EXPECT_EQ(now.top, placed.top) << "the window stays where it was";

    // 100 % and 500 %, the ends of Windows' scaling, are taken.
    for (const int dpi : {480, 96}) {
        SIZE size{};
        EXPECT_TRUE(SendMessageW(window(), 0x02E4, dpi, reinterpret_cast<LPARAM>(&size))) << dpi;
        if (adjust != nullptr) {
            RECT needed{0, 0, Px(6405, dpi), Px(3090, dpi)};
            adjust(&needed, GetWindowLongW(window(), GWL_STYLE), FALSE, GetWindowLongW(window(), GWL_EXSTYLE), dpi);
            EXPECT_EQ(size.cx, needed.right - needed.left) << dpi;
            EXPECT_EQ(size.cy, needed.bottom - needed.top) << dpi;
        }
        // Laid out at that DPI (a window larger than the screen is held to
        // the screen's size, on Windows as under Wine).
        dpiChanged(MAKEWPARAM(dpi, dpi), &suggested);
        const RECT bar = BoxOf(control(kIdHScroll1));
        EXPECT_EQ(bar.left, Px(120, dpi));
        EXPECT_EQ(bar.top, Px(480, dpi));
        EXPECT_EQ(bar.right - bar.left, Px(6015, dpi));
    }
    EXPECT_EQ(Geometry(window()), at96);
    // And the window still answers its user.
    scroll(SB_PAGERIGHT);
    EXPECT_EQ(text(kIdLabel1), L"10");
}

TEST_F(ToolWindow, IsAFixedWindowWithCloseAndMoveOnlyABarOf0To255AndAnEditableNotice) {
    open();
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
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 255);
    EXPECT_EQ(value(), 0);
    EXPECT_FALSE(GetWindowLongW(control(kIdHScroll1), GWL_STYLE) & SBS_VERT);
    const LONG edit = GetWindowLongW(control(kIdText1), GWL_STYLE);
    EXPECT_TRUE(edit & ES_MULTILINE);
    EXPECT_FALSE(edit & (ES_READONLY | WS_VSCROLL | WS_HSCROLL));
}


TEST_F(ToolWindow, LabelsFollowTheirTextsFromAFixedLeftEdge) {
    open();
    FontDC font(control(kIdLabel2));
    const RECT label2 = BoxOf(control(kIdLabel2)), label3 = BoxOf(control(kIdLabel3));
    ws.under = INT32_MIN;
    tick();
    EXPECT_EQ(text(kIdLabel2), L"-2147483648");
    EXPECT_EQ(text(kIdLabel3), Wide(kNoTarget));
    RECT now = BoxOf(control(kIdLabel2));
    EXPECT_EQ(now.left, label2.left);
    EXPECT_EQ(now.right - now.left, font.width(L"-2147483648"));

    capture(12345);
    EXPECT_EQ(text(kIdLabel3), L"12345");
    now = BoxOf(control(kIdLabel3));
    EXPECT_EQ(now.left, label3.left);
    EXPECT_EQ(now.right - now.left, font.width(L"12345"));
    ws.under = 0;
    tick();
    EXPECT_EQ(text(kIdLabel2), L"0");
    EXPECT_EQ(BoxOf(control(kIdLabel2)).right - label2.left, font.width(L"0"));
    EXPECT_EQ(text(kIdLabel3), L"12345") << "the target stays once F1 is up";
    EXPECT_TRUE(ws.alphas.empty()) << "a capture alone changes no window";
}

// A new text is one paint of the label and none of the form's: a label that
// shrinks has painted the part it gives back as background, and one that
// grows shows its whole text.
TEST_F(ToolWindow, ALabelRepaintsOnlyItselfForANewText) {
    open();
    form().show(SW_SHOWNORMAL);
    RedrawWindow(window(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ws.under = INT32_MIN;
    tick();
    const RECT wide = BoxOf(control(kIdLabel2));
    HDC dc = GetDC(window());
    const COLORREF background = GetPixel(dc, wide.right + 4, wide.top);
    // Pixels of the form beside the narrow label, where the wide one reached,
    // that differ from the form's background.
    const auto marked = [&](const RECT& narrow) {
        int count = 0;
        for (int y = wide.top; y < wide.bottom; ++y) {
            for (int x = narrow.right; x < wide.right; ++x) count += GetPixel(dc, x, y) != background;
        }
        return count;
    };
    for (int under : {0, INT32_MIN, 7}) {
        ws.under = under;
        tick();
        RECT pending{};
        EXPECT_FALSE(GetUpdateRect(window(), &pending, FALSE))
            << "the form has (" << pending.left << ", " << pending.top << ")-(" << pending.right << ", "
            << pending.bottom << ") to repaint after the label's text became " << under;
        RedrawWindow(window(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        const RECT narrow = BoxOf(control(kIdLabel2));
        if (under == INT32_MIN) {
            EXPECT_GT(marked(RECT{0, 0, wide.left + (wide.right - wide.left) / 2, 0}), 0)
                << "the right half of the grown label shows no text";
        } else {
            EXPECT_EQ(marked(narrow), 0) << "the old text left where the label no longer reaches, after " << under;
        }
    }
    ReleaseDC(window(), dc);
}

}  // namespace
}  // namespace kavrelo::test
