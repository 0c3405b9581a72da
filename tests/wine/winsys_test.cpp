// The real binding of the window-system operations, under Windows or Wine.
#include <gtest/gtest.h>

#include <string>

#include "error.h"
#include "handle_text.h"
#include "user32.h"

namespace kavrelo {
namespace {

std::string Narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

TEST(Binding, ARealEntryIsFoundOnceAndKept) {
    Library user32(L"user32");
    Entry entry(user32, "GetKeyState");
    const FARPROC first = entry.address();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, GetProcAddress(GetModuleHandleW(L"user32"), "GetKeyState"));
    EXPECT_EQ(entry.address(), first);
}

TEST(Binding, AMissingEntryRaisesAnErrorNamingEntryAndLibrary) {
    Library user32(L"user32");
    Entry entry(user32, "NoSuchEntryInUser32");
    try {
        entry.address();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::EntryNotFound);
        const std::string text = Narrow(e.text());
        EXPECT_NE(text.find("NoSuchEntryInUser32"), std::string::npos) << text;
        EXPECT_NE(text.find("user32"), std::string::npos) << text;
    }
    // Still missing at the next call.
    EXPECT_THROW(entry.address(), Error);
}

TEST(Binding, AMissingLibraryRaisesAnError) {
    Library missing(L"kavrelo-no-such-library");
    Entry entry(missing, "GetKeyState");
    try {
        entry.address();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::LibraryNotFound);
        EXPECT_NE(Narrow(e.text()).find("kavrelo-no-such-library"), std::string::npos);
    }
}

TEST(User32WindowSystem, TheSixOperationsReachTheWindowSystem) {
    User32WindowSystem ws;
    EXPECT_GE(ws.GetKeyState(kVkF1), 0) << "F1 is not held during the tests";

    // A window of our own, with the pointer put over it: GetCursorPos must
    // report that point and WindowFromPoint the window there. Its handle is
    // then passed the way the program passes its target: through its handle
    // text, from which each call converts it back (in a 64-bit build too,
    // where a window handle is the sign extension of its 32-bit value).
    // (SS_NOTIFY: a static control without it is transparent to hit tests.)
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"Static", L"probe", WS_POPUP | WS_VISIBLE | SS_NOTIFY,
                                  40, 40, 30, 30, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(SetCursorPos(55, 57));
    // The window shows once the system has mapped it, and the pointer is
    // there once the system has moved it: wait for both.
    Point p{0, 0};
    std::int32_t cursorResult = 0;
    Handle found = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        p = Point{12345, 54321};
        cursorResult = ws.GetCursorPos(&p);
        found = ws.WindowFromPoint(p.x, p.y);
        if (p.x == 55 && p.y == 57 && reinterpret_cast<HWND>(static_cast<INT_PTR>(found)) == window) break;
    }
    EXPECT_NE(cursorResult, 0);
    EXPECT_EQ(p.x, 55);
    EXPECT_EQ(p.y, 57);
    ASSERT_EQ(reinterpret_cast<HWND>(static_cast<INT_PTR>(found)), window) << "handle " << found;
    // Elsewhere, the window there (the desktop at least: never 0 on screen).
    EXPECT_EQ(ws.WindowFromPoint(5, 5), static_cast<Handle>(reinterpret_cast<INT_PTR>(WindowFromPoint(POINT{5, 5}))));
    EXPECT_NE(ws.WindowFromPoint(5, 5), found);
    const Handle h = HandleFromText(DecimalText(found).view());
    const std::int32_t style = ws.GetWindowLongA(h, kGwlExStyle);
    EXPECT_EQ(style, GetWindowLongW(window, GWL_EXSTYLE));
    ws.SetWindowLongA(h, kGwlExStyle, style | kWsExLayered);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYERED);
    EXPECT_NE(ws.SetLayeredWindowAttributes(h, 0, 155, kLwaAlpha), 0);

    COLORREF key = 1;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(window, &key, &alpha, &flags));
    EXPECT_EQ(alpha, 155);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
    DestroyWindow(window);

    // A window that does not exist: results carry the failure, nothing raises.
    EXPECT_EQ(ws.GetWindowLongA(0, kGwlExStyle), 0);
    EXPECT_EQ(ws.SetLayeredWindowAttributes(0, 0, 10, kLwaAlpha), 0);
}

TEST(User32WindowSystem, AnEntryThatCannotBeBoundRaisesAtItsFirstCall) {
    User32Entries entries;
    entries.setLayeredWindowAttributes = "SetLayeredWindowAttributes_missing";
    User32WindowSystem ws(entries);
    EXPECT_GE(ws.GetKeyState(kVkF1), 0);  // the others bind as usual
    EXPECT_THROW(ws.SetLayeredWindowAttributes(0, 0, 0, kLwaAlpha), Error);
}

}  // namespace
}  // namespace kavrelo
