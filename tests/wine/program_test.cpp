// The program from its start to its end: its timer, every start state, DPI
// awareness declared first, the error reports and exit codes, and the form's
// own last messages.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "dpi_calls.h"
#include "error_box_watcher.h"
#include "error_report.h"
#include "tool_window_fixture.h"
#include "user32.h"

namespace kavrelo::test {
namespace {

// ---- the timer and the tick ----

TEST_F(ToolWindow, TicksEveryTenthOfASecondThroughItsMessageLoop) {
    open();
    ASSERT_TRUE(setTimer_.applied());
    ASSERT_EQ(g_timers.size(), 1u);
    EXPECT_EQ(g_timers[0].window, window());
    EXPECT_EQ(g_timers[0].ms, 100u);
    EXPECT_TRUE(PumpUntil([&] { return ws.ticks >= 3; }, 10000, &form()));
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

// What the first tick finds of the window.
struct SeenAtFirstTick {
    bool visible, minimized, zoomed;
    LONG clientWidth, clientHeight;
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
        ASSERT_TRUE(calls.applied());
        ASSERT_TRUE(shows.applied());
        FakeWindowSystem ws;
        std::optional<SeenAtFirstTick> seen;
        ws.onTick = [&] {
            HWND w = FindWindowW(L"KavreloForm", L"Kavrelo");
            RECT client{};
            GetClientRect(w, &client);
            if (!seen) seen = {IsWindowVisible(w) != FALSE, IsIconic(w) != FALSE, IsZoomed(w) != FALSE, client.right, client.bottom};
            PostMessageW(w, WM_CLOSE, 0, 0);
        };
        EXPECT_EQ(RunKavrelo(Instance(), ws, launcher), 0);
        ASSERT_TRUE(seen) << launcher;
        SCOPED_TRACE(testing::Message() << "launcher's command " << launcher);
        EXPECT_TRUE(seen->visible);
        EXPECT_EQ(seen->minimized, minimized);
        EXPECT_FALSE(seen->zoomed);
        if (!minimized) {
            EXPECT_EQ(seen->clientWidth, Px(kForm1Layout.clientWidth, dpi));
            EXPECT_EQ(seen->clientHeight, Px(kForm1Layout.clientHeight, dpi));
        }
        ASSERT_FALSE(g_replaceable.empty());
        EXPECT_FALSE(g_replaceable[0]) << "on Windows, the launcher's command instead: " << launcher;
        // Per-monitor aware where Windows has it (10 1703), else system-aware
        // where it has that (Vista; Wine 8 refuses the first), before any
        // window, DC, font or image and before reading the system's metrics:
        // else Windows would stretch the window as a picture, and what was
        // measured would be of another DPI.
        if (has("SetProcessDpiAwarenessContext")) EXPECT_EQ(DpiCalls::perMonitor.set, -4);
        if (has("SetProcessDPIAware")) EXPECT_EQ(DpiCalls::declared, DpiCalls::perMonitor.returned ? 0 : 1);
        if (has("SetProcessDpiAwarenessContext") || has("SetProcessDPIAware")) {
            EXPECT_EQ(DpiCalls::madeBeforeDeclared, "");
        }
        EXPECT_EQ(calls.uncovered(), "");
    }
}

TEST(Program, AnUntrappedErrorOfTheTickIsReportedOnceAndEndsTheProgram) {
    User32Entries entries;
    entries.getCursorPos = "GetCursorPos_unbound";
    User32WindowSystem ws(entries);
    ErrorBoxWatcher watcher(800);
    EXPECT_EQ(RunKavrelo(Instance(), ws, SW_SHOWNORMAL), kExitUntrappedError);
    watcher.finish();
    EXPECT_TRUE(watcher.stayedUp);
    EXPECT_EQ(watcher.ownerClass, L"KavreloForm");
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
    EXPECT_EQ(FindWindowW(L"KavreloForm", nullptr), nullptr);
    EXPECT_EQ(ws.ticks, 0);
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
    if (GetLayeredWindowAttributes(target, nullptr, &alpha, &flags)) {
        EXPECT_EQ(flags & LWA_ALPHA, 0u) << "no alpha was ever set";
    }
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
            Form form(Instance(), FormLayout{u"KavreloFormsTest", 3000, 1500, {}}, FormStyle{0, 96, &CreateForm1Font});
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
        Form form(Instance(), FormLayout{u"KavreloFormsTest", 3000, 1500, {}}, FormStyle{0, 96, &CreateForm1Font});
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
