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

// The DPI of the prefix (scripts/wine-run): the screen's real DPI.
int SystemDpi() {
    wchar_t dpi[8] = L"96";
    GetEnvironmentVariableW(L"KAVRELO_DPI", dpi, 8);
    return _wtoi(dpi);
}

// What a thread that has not declared itself DPI-aware is told the screen's
// DPI is.
int UnawareDpi() {
    const auto set = OptionalUser32Entry<HANDLE(WINAPI*)(HANDLE)>("SetThreadDpiAwarenessContext");
    HANDLE before = set != nullptr ? set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1))) : nullptr;
    const int dpi = ScreenDpi();
    if (before != nullptr) set(before);
    return dpi;
}

TEST(Program, DeclaresItselfDpiAwareBeforeAnyWindowAndIsLaidOutAtTheSystemsRealDpi) {
    const int dpi = SystemDpi();
    // Windows 8.1 and later tell a program that is not DPI-aware 96 and
    // stretch its window as a picture; so does Wine 10. Wine 8 tells it the
    // real DPI, where this test cannot tell an aware start from an unaware
    // one, and refuses per-monitor awareness.
    const int unaware = UnawareDpi();
    if (unaware == dpi && dpi != 96) {
        std::printf("note: this system tells a DPI-unaware program the real DPI (%d), as Wine 8 does: whether the "
                    "program declared itself aware does not show in its layout here\n", dpi);
    }
    const auto has = [](const char* entry) { return GetProcAddress(GetModuleHandleW(L"user32"), entry) != nullptr; };
    DpiCalls calls;
    ASSERT_TRUE(calls.applied());
    FakeWindowSystem ws;
    std::optional<std::array<LONG, 4>> seen;  // client width and height, the window's DPI and DPI awareness
    ws.onTick = [&] {
        HWND w = FindWindowW(L"KavreloForm", L"Kavrelo");
        if (!seen) {
            RECT client{};
            GetClientRect(w, &client);
            const auto windowDpi = OptionalUser32Entry<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
            const auto context = OptionalUser32Entry<HANDLE(WINAPI*)(HWND)>("GetWindowDpiAwarenessContext");
            const auto awareness = OptionalUser32Entry<int(WINAPI*)(HANDLE)>("GetAwarenessFromDpiAwarenessContext");
            seen = {client.right, client.bottom, windowDpi != nullptr ? static_cast<LONG>(windowDpi(w)) : dpi,
                    context != nullptr && awareness != nullptr ? awareness(context(w)) : -1};
        }
        PostMessageW(w, WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(RunKavrelo(Instance(), ws, SW_SHOWNORMAL), 0);
    ASSERT_TRUE(seen);
    EXPECT_EQ((*seen)[0], Px(kForm1Layout.clientWidth, dpi)) << "laid out at " << dpi << " dpi; a DPI-unaware program is told " << unaware;
    EXPECT_EQ((*seen)[1], Px(kForm1Layout.clientHeight, dpi));
    EXPECT_EQ((*seen)[2], dpi) << "the window's DPI";
    // Per-monitor aware where Windows has it (10 1703; Wine 10, while Wine 8
    // refuses it), else system-aware where it has that (Vista), before any
    // window, DC, font or image and before reading the system's metrics:
    // else Windows would stretch the window as a picture, and what was
    // measured would be of another DPI.
    if (has("SetProcessDpiAwarenessContext")) {
        EXPECT_EQ(DpiCalls::perMonitor.set, -4);
    }
    if (has("SetProcessDPIAware")) {
        EXPECT_EQ(DpiCalls::declared, DpiCalls::perMonitor.returned ? 0 : 1);
    }
    if (has("SetProcessDpiAwarenessContext") || has("SetProcessDPIAware")) {
        EXPECT_EQ(DpiCalls::madeBeforeDeclared, "");
    }
    EXPECT_EQ(calls.uncovered(), "");
    // Wine 8, which refuses it, reports every window per-monitor aware all
    // the same: only Wine 10 shows this.
    if (has("SetProcessDpiAwarenessContext")) {
        EXPECT_EQ((*seen)[3], 2) << "the window is per-monitor aware (DPI_AWARENESS_PER_MONITOR_AWARE)";
    }
}

// The launcher's show command at the program's first show, as Windows
// versions hand it over (Form::show): the test stands in for ShowWindow.
enum class FirstShow {
    kAsked,              // none replaced: no launcher's command, or Wine (8 and 10)
    kAny,                // the first show's command, whatever it is (ShowWindow's documentation)
    kPlainAnySpends,     // SW_SHOW, SW_SHOWNORMAL or SW_SHOWDEFAULT; any first show spends it
    kPlainOnlyReplaced,  // those, and only a replaced show spends it
};
struct Launched {
    FirstShow rule;
    int command;
    bool pending;
};
Launched g_launched{};
decltype(&ShowWindow) g_realShowWindow = nullptr;
BOOL WINAPI LaunchedShowWindow(HWND window, int command) {
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    const bool plain = command == SW_SHOW || command == SW_SHOWNORMAL || command == SW_SHOWDEFAULT;
    if (g_launched.pending && !(style & WS_CHILD) && (style & WS_CAPTION) == WS_CAPTION) {
        const FirstShow rule = g_launched.rule;
        if (rule == FirstShow::kAny || (plain && rule != FirstShow::kAsked)) command = g_launched.command;
        if (rule == FirstShow::kAny || rule == FirstShow::kPlainAnySpends || (plain && rule == FirstShow::kPlainOnlyReplaced)) {
            g_launched.pending = false;
        }
    }
    return g_realShowWindow(window, command);
}
struct LaunchedShows : ImportPatch {
    LaunchedShows(FirstShow rule, int command)
        : ImportPatch("user32.dll", "ShowWindow", reinterpret_cast<void*>(&LaunchedShowWindow)) {
        g_realShowWindow = original<decltype(&ShowWindow)>();
        g_launched = {rule, command, true};
    }
};

TEST(Program, EveryStartStateUnderEveryRuleOfTheFirstShowIsAUsableWindowAtItsOwnSizeAtTheSystemsDpi) {
    const int dpi = SystemDpi();
    // Active before the start, as the launcher's window would be: a start
    // that gives no activation leaves it so.
    HWND other = CreateWindowExW(0, L"Static", L"the launcher", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 700, 0, 200,
                                 100, nullptr, nullptr, Instance(), nullptr);
    ASSERT_NE(other, nullptr);
    // The launcher's command; whether the window is then minimized, and active.
    struct Start { int launcher; bool minimized, active; };
    const Start starts[] = {{SW_HIDE, false, true},           {SW_SHOWNORMAL, false, true},
                            {SW_SHOWMINIMIZED, true, true},   {SW_SHOWMAXIMIZED, false, true},
                            {SW_SHOWNOACTIVATE, false, false}, {SW_SHOW, false, true},
                            {SW_MINIMIZE, true, false},       {SW_SHOWMINNOACTIVE, true, false},
                            {SW_SHOWNA, false, false},        {SW_RESTORE, false, true},
                            {SW_SHOWDEFAULT, false, true},    {SW_FORCEMINIMIZE, true, false}};
    for (const FirstShow rule : {FirstShow::kAsked, FirstShow::kAny, FirstShow::kPlainAnySpends, FirstShow::kPlainOnlyReplaced}) {
        for (const Start& start : starts) {
            const std::string what = "rule " + std::to_string(static_cast<int>(rule)) + ", launcher's command " +
                                     std::to_string(start.launcher);
            SetForegroundWindow(other);
            ASSERT_EQ(GetForegroundWindow(), other) << what;
            LaunchedShows shows(rule, start.launcher);
            ASSERT_TRUE(shows.applied());
            FakeWindowSystem ws;
            struct Seen { bool visible, minimized, zoomed, active; LONG width, height; };
            std::optional<Seen> seen;
            ws.onTick = [&] {
                HWND w = FindWindowW(L"KavreloForm", L"Kavrelo");
                if (!seen) {
                    seen = Seen{IsWindowVisible(w) != FALSE, IsIconic(w) != FALSE, IsZoomed(w) != FALSE,
                                GetForegroundWindow() == w, 0, 0};
                    // Brought back from the task bar, at its own size.
                    if (seen->minimized) g_realShowWindow(w, SW_RESTORE);
                    RECT client{};
                    GetClientRect(w, &client);
                    seen->width = client.right;
                    seen->height = client.bottom;
                }
                PostMessageW(w, WM_CLOSE, 0, 0);
            };
            EXPECT_EQ(RunKavrelo(Instance(), ws, start.launcher), 0) << what;
            ASSERT_TRUE(seen) << what;
            EXPECT_TRUE(seen->visible) << what;
            EXPECT_EQ(seen->minimized, start.minimized) << what;
            EXPECT_FALSE(seen->zoomed) << what;
            EXPECT_EQ(seen->active, start.active) << what;
            EXPECT_EQ(seen->width, Px(kForm1Layout.clientWidth, dpi)) << what;
            EXPECT_EQ(seen->height, Px(kForm1Layout.clientHeight, dpi)) << what;
        }
    }
    DestroyWindow(other);
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
