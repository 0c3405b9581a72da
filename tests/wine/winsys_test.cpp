// The real binding of the window-system operations, under Windows or Wine.
#include "error.h"
#include "handle_text.h"
#include "user32.h"
#include "dpi_calls.h"
#include "wine_test.h"

namespace kavrelo::test {
namespace {

// The entry's lookup raises `code` with a text naming each of `names`.
void ExpectRaises(Entry& entry, ErrorCode code, std::initializer_list<const char*> names) {
    try {
        entry.address();
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), code);
        std::string text;
        for (char16_t c : e.text()) text += c < 0x80 ? static_cast<char>(c) : '?';
        for (const char* name : names) EXPECT_NE(text.find(name), std::string::npos) << text;
    }
}

TEST(Binding, AnEntryIsFoundByNameOnceAndKeptAMissingOneRaisesAtEachCallNamingIt) {
    Library user32(L"user32");
    Entry entry(user32, "GetKeyState");
    const FARPROC first = entry.address();
    EXPECT_EQ(first, GetProcAddress(GetModuleHandleW(L"user32"), "GetKeyState"));
    EXPECT_EQ(entry.address(), first);

    Entry missing(user32, "NoSuchEntryInUser32");
    ExpectRaises(missing, ErrorCode::EntryNotFound, {"NoSuchEntryInUser32", "user32"});
    ExpectRaises(missing, ErrorCode::EntryNotFound, {"NoSuchEntryInUser32"});  // and at the next call
    Library nowhere(L"kavrelo-no-such-library");
    Entry inNowhere(nowhere, "GetKeyState");
    ExpectRaises(inNowhere, ErrorCode::LibraryNotFound, {"kavrelo-no-such-library"});

    // An entry the program can do without: its address, or nothing, no error.
    EXPECT_EQ(OptionalUser32Entry<FARPROC>("GetKeyState"), first);
    EXPECT_EQ(OptionalUser32Entry<FARPROC>("NoSuchEntryInUser32"), nullptr);
}

TEST(User32WindowSystem, TheSixOperationsReachTheWindowSystem) {
    User32WindowSystem ws;
    EXPECT_GE(ws.GetKeyState(kVkF1), 0) << "F1 is not held during the tests";
    // A window of our own with the pointer over it. Its handle goes the way
    // the program passes its target: through its handle text (in a 64-bit
    // build too, where a handle is the sign extension of its 32-bit value).
    // (SS_NOTIFY: a static control without it is transparent to hit tests.)
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"Static", L"probe", WS_POPUP | WS_VISIBLE | SS_NOTIFY, 40, 40, 30,
                                  30, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(SetCursorPos(55, 57));
    Point p{0, 0};
    Handle found = 0;
    EXPECT_TRUE(PumpUntil([&] {
        p = Point{12345, 54321};
        EXPECT_NE(ws.GetCursorPos(&p), 0);
        found = ws.WindowFromPoint(p.x, p.y);
        return p.x == 55 && p.y == 57 && ToHwnd(found) == window;
    }));
    EXPECT_EQ(p.x, 55);
    EXPECT_EQ(p.y, 57);
    EXPECT_EQ(ToHwnd(found), window);
    EXPECT_EQ(ws.WindowFromPoint(5, 5), FromHwnd(WindowFromPoint(POINT{5, 5})));
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
    // A window that does not exist: the results carry the failure, nothing raises.
    EXPECT_EQ(ws.GetWindowLongA(0, kGwlExStyle), 0);
    EXPECT_EQ(ws.SetLayeredWindowAttributes(0, 0, 10, kLwaAlpha), 0);

    User32Entries entries;
    entries.setLayeredWindowAttributes = "SetLayeredWindowAttributes_missing";
    User32WindowSystem without(entries);
    EXPECT_GE(without.GetKeyState(kVkF1), 0) << "the others bind as usual";
    EXPECT_THROW(without.SetLayeredWindowAttributes(0, 0, 0, kLwaAlpha), Error);
}

// Where the thread is per-monitor aware already, the two calls run as they
// are; elsewhere in a per-monitor-aware context, the thread's own restored.
// (Under Wine every thread says it is per-monitor aware.)
TEST(User32WindowSystem, PicksInAPerMonitorAwareContextWhereTheThreadIsNotAlready) {
    if (GetProcAddress(GetModuleHandleW(L"user32"), "SetThreadDpiAwarenessContext") == nullptr) {
        GTEST_SKIP() << "no thread DPI contexts before Windows 10 1607";
    }
    for (const int awareness : {1 /* system */, 2 /* per monitor */}) {
        DpiCalls dpi;
        ASSERT_TRUE(dpi.applied());
        DpiCalls::awareness = awareness;
        User32WindowSystem ws;
        Point p{0, 0};
        for (int operation = 0; operation < 2; ++operation) {
            DpiCalls::contexts.clear();
            if (operation == 0) ws.GetCursorPos(&p); else ws.WindowFromPoint(p.x, p.y);
            const auto& calls = DpiCalls::contexts;
            if (awareness == 2) {
                EXPECT_TRUE(calls.empty()) << operation;
                continue;
            }
            // Per-monitor aware v2 (-4), or v1 (-3) where v2 is refused; then
            // the context the successful call replaced.
            ASSERT_GE(calls.size(), 2u) << operation;
            EXPECT_EQ(calls[0].set, -4);
            const size_t set = calls[0].returned != 0 ? 0 : 1;
            if (set == 1) {
                EXPECT_EQ(calls[1].set, -3);
            }
            ASSERT_EQ(calls.size(), set + 2) << operation;
            EXPECT_NE(calls[set].returned, 0);
            EXPECT_EQ(calls[set + 1].set, calls[set].returned) << "the thread's own context back";
        }
    }
}

}  // namespace
}  // namespace kavrelo::test
