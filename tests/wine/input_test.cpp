// The bar as the user and other programs move it: every change applied
// once, none while the thumb is dragged; the wheel and its tilt; the keyboard,
// Tab between the tab stops and the focus back on activation.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tool_window_fixture.h"

namespace kavrelo::test {
namespace {

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

    // Tab goes round the tab stops in the layout's order, Shift+Tab back.
    std::vector<int> stops;
    for (const ControlRow& row : kForm1Controls) {
        if (row.kind != ControlKind::Label) stops.push_back(row.id);
    }
    const size_t n = stops.size();
    size_t at = std::find(stops.begin(), stops.end(), kIdHScroll1) - stops.begin();
    ASSERT_LT(at, n);
    for (const WORD shift : {WORD{0}, WORD{VK_SHIFT}}) {
        for (size_t i = 0; i < n; ++i) {
            Press(VK_TAB, shift);
            at = shift ? (at + n - 1) % n : (at + 1) % n;
            EXPECT_TRUE(focusOn(control(stops[at]))) << (shift ? "Shift+Tab" : "Tab") << " to control " << stops[at];
        }
    }
    while (stops[at] != kIdText1) {
        Press(VK_TAB);
        at = (at + 1) % n;
    }
    ASSERT_TRUE(focusOn(text1));
    DWORD start = 1, end = 0;
    SendMessageW(text1, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u) << "the text selected by Tab";
    EXPECT_EQ(end, static_cast<DWORD>(GetWindowTextLengthW(text1))) << "the text selected by Tab";

    // Typed in the text box: Enter breaks the line, Escape does nothing, nothing closes; a long paste stays whole.
    const std::wstring typed = TextOf(text1) + L"z\r\n";
    for (WORD key : {WORD{VK_END}, WORD{'Z'}, WORD{VK_ESCAPE}, WORD{VK_RETURN}}) Press(key);
    EXPECT_TRUE(PumpUntil([&] { return TextOf(text1) == typed; }, 5000, &form())) << "typed, no tab";
    std::wstring pasted;  // beyond the 30,000 characters an edit control holds unless told otherwise
    while (pasted.size() < 40000) pasted += std::wstring(78, L'x') + L"\r\n";
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, (pasted.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(data), pasted.c_str(), (pasted.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(data);
    ASSERT_TRUE(OpenClipboard(window()));
    ASSERT_TRUE(EmptyClipboard());
    ASSERT_TRUE(SetClipboardData(CF_UNICODETEXT, data));
    ASSERT_TRUE(CloseClipboard());
    Press('V', VK_CONTROL);
    EXPECT_TRUE(PumpUntil([&] { return GetWindowTextLengthW(text1) == static_cast<int>(typed.size() + pasted.size()); },
                          5000, &form())) << GetWindowTextLengthW(text1);
    EXPECT_TRUE(IsWindow(window()));
    EXPECT_TRUE(IsWindowVisible(window()));
    EXPECT_EQ(value(), 0);
    EXPECT_EQ(text(kIdLabel1), L"0");
    EXPECT_EQ(text(kIdLabel3), L"4242");

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

}  // namespace
}  // namespace kavrelo::test
