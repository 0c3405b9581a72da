// The form layer (app/forms.*, scroll_bar.*, error_report.*) with real
// windows, under Windows or Wine: the default processing of a window's last
// message, WM_QUIT and the error box, the scroll bar's change event for a
// position sent by message, the form's timer, Tab between the tab stops, and
// the window's icons.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "error.h"
#include "form_font.h"
#include "forms.h"

namespace kavrelo {
namespace {

// ---- helpers ----

// A fault that nothing handles ends the test program at once, with its
// exception code, rather than starting Wine's debugger, which would wait for
// a user until the test times out.
LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS* e) {
    std::fprintf(stderr, "unhandled exception 0x%08lx at %p\n",
                 static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode),
                 e->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}
const LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = SetUnhandledExceptionFilter(&EndOnUnhandledException);

FormStyle TestStyle() { return FormStyle{u"KavreloFormsTest", 200, 100, 0, CreateForm1Font(96)}; }

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

// Takes a pending WM_QUIT out of this thread's queue; its exit code, or -1
// when there was none.
int TakeQuit() {
    MSG msg{};
    if (!PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return -1;
    return static_cast<int>(msg.wParam);
}

// Replaces, for its lifetime, the address this executable calls for one entry
// it imports by name (its import address table slot).
class ImportPatch {
public:
    ImportPatch(const char* dll, const char* entry, void* replacement) {
        auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleW(nullptr));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (dir.VirtualAddress == 0) return;
        for (auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
             imp->Name != 0; ++imp) {
            if (lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), dll) != 0) continue;
            const DWORD names = imp->OriginalFirstThunk != 0 ? imp->OriginalFirstThunk : imp->FirstThunk;
            auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
            auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
            for (; name->u1.AddressOfData != 0; ++name, ++slot) {
                if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                    base + name->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), entry) != 0) continue;
                slot_ = reinterpret_cast<void**>(&slot->u1.Function);
                original_ = *slot_;
                write(replacement);
                return;
            }
        }
    }
    ~ImportPatch() {
        if (slot_ != nullptr) write(original_);
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool applied() const { return slot_ != nullptr; }
    void* original() const { return original_; }

private:
    void write(void* value) {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    }

    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// Watches for the error box ("Kavrelo", a dialog of this thread) from another
// thread, and dismisses it with OK once it has stayed up for `hold`.
class ErrorBoxWatcher {
public:
    explicit ErrorBoxWatcher(std::chrono::milliseconds hold)
        : thread_(GetCurrentThreadId()), worker_([this, hold] { watch(hold); }) {}
    ~ErrorBoxWatcher() { finish(); }
    ErrorBoxWatcher(const ErrorBoxWatcher&) = delete;
    ErrorBoxWatcher& operator=(const ErrorBoxWatcher&) = delete;

    // Stops watching; then what was seen can be read.
    void finish() {
        done_ = true;
        if (worker_.joinable()) worker_.join();
    }
    bool seen() const { return seen_; }
    bool stayedUp() const { return stayedUp_; }
    const std::wstring& text() const { return text_; }

private:
    HWND find() const {
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", L"Kavrelo")) != nullptr) {
            if (GetWindowThreadProcessId(box, nullptr) == thread_ && IsWindowVisible(box)) return box;
        }
        return nullptr;
    }

    void watch(std::chrono::milliseconds hold) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        HWND box = nullptr;
        while (!done_ && Clock::now() < deadline && (box = find()) == nullptr) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (box == nullptr) return;
        seen_ = true;
        for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            wchar_t buffer[512] = {};
            GetWindowTextW(c, buffer, 512);
            text_ += buffer;
            text_ += L"\n";
        }
        const auto until = Clock::now() + hold;
        bool up = true;
        while (up && Clock::now() < until) {
            up = IsWindow(box) && IsWindowVisible(box);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stayedUp_ = up;
        if (IsWindow(box)) PostMessageW(box, WM_COMMAND, IDOK, 0);
    }

    DWORD thread_;
    std::atomic<bool> done_{false}, seen_{false}, stayedUp_{false};
    std::wstring text_;
    std::thread worker_;
};

constexpr std::chrono::milliseconds kHold{800};

// ---- the window's last message ----

std::vector<HWND> g_ncDestroyed;
WNDPROC g_defWindowProc = nullptr;

LRESULT WINAPI RecordingDefWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCDESTROY) g_ncDestroyed.push_back(hwnd);
    return g_defWindowProc(hwnd, msg, wp, lp);
}

TEST(Form, TheLastMessageHasItsDefaultProcessingWithTheRealWindow) {
    ImportPatch patch("user32.dll", "DefWindowProcW", reinterpret_cast<void*>(&RecordingDefWindowProc));
    ASSERT_TRUE(patch.applied()) << "DefWindowProcW is not imported from user32.dll by name";
    g_defWindowProc = reinterpret_cast<WNDPROC>(patch.original());
    g_ncDestroyed.clear();

    HWND window = nullptr;
    {
        Form form(Instance(), TestStyle());
        window = form.hwnd();
        ASSERT_NE(window, nullptr);
    }
    ASSERT_EQ(g_ncDestroyed.size(), 1u);
    EXPECT_EQ(g_ncDestroyed[0], window);
    EXPECT_FALSE(IsWindow(window));

    // Likewise when the window is destroyed from outside the form.
    g_ncDestroyed.clear();
    {
        Form form(Instance(), TestStyle());
        window = form.hwnd();
        DestroyWindow(window);
        EXPECT_EQ(form.hwnd(), nullptr);
    }
    ASSERT_EQ(g_ncDestroyed.size(), 1u);
    EXPECT_EQ(g_ncDestroyed[0], window);
    TakeQuit();
}

// ---- WM_QUIT and the error box ----

TEST(Form, AWindowDestroyedOutsideTheMessageLoopAsksNobodyToQuit) {
    TakeQuit();
    { Form form(Instance(), TestStyle()); }
    EXPECT_EQ(TakeQuit(), -1) << "a WM_QUIT was left behind, which would close the next message box";

    // Nor does a form whose window is already gone wait for a quit that never
    // comes.
    Form form(Instance(), TestStyle());
    DestroyWindow(form.hwnd());
    EXPECT_EQ(TakeQuit(), -1);
    EXPECT_EQ(form.run(SW_HIDE), 0);
}

TEST(ShowError, TheBoxStaysUpDespiteAPendingQuitWhichItPutsBack) {
    TakeQuit();
    PostQuitMessage(5);
    ErrorBoxWatcher watcher(kHold);
    ShowError(nullptr, ErrorReport{7, u"无法创建文本框。"}, true);
    watcher.finish();
    EXPECT_TRUE(watcher.seen());
    EXPECT_TRUE(watcher.stayedUp()) << "the box closed before it was dismissed";
    EXPECT_NE(watcher.text().find(L"无法创建文本框"), std::wstring::npos);
    EXPECT_EQ(TakeQuit(), 5) << "the quit asked for before the box is lost";
}

// ---- the scroll bar's change event ----

TEST(HScrollBar, APositionSentByMessageIsTakenWithOneChangeAndNoneWhileTheThumbMoves) {
    Form form(Instance(), TestStyle());
    HScrollBar& bar = form.createScrollBar(100, Box{0, 0, 100, 17}, HScrollBar::Range{0, 255, 1, 10});
    std::vector<int> seen;  // the value at each change event
    struct Context {
        HScrollBar* bar;
        std::vector<int>* seen;
    } context{&bar, &seen};
    bar.Change = Event{[](void* c) {
                           auto* ctx = static_cast<Context*>(c);
                           ctx->seen->push_back(ctx->bar->value());
                       },
                       &context};
    const auto sendFrom = [&](HWND from, int code, int position) {
        SendMessageW(form.hwnd(), WM_HSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(from));
    };
    const auto send = [&](int code, int position) { sendFrom(bar.hwnd(), code, position); };

    // What an accessibility or automation tool sends to set the bar.
    send(SB_THUMBPOSITION, 77);
    send(SB_ENDSCROLL, 0);
    EXPECT_EQ(bar.value(), 77);
    EXPECT_EQ(GetScrollPos(bar.hwnd(), SB_CTL), 77) << "the thumb stands at the value";
    EXPECT_EQ(seen, std::vector<int>{77});

    // A drag: nothing while the thumb moves, one change when it is dropped.
    send(SB_THUMBTRACK, 120);
    send(SB_THUMBTRACK, 200);
    EXPECT_EQ(bar.value(), 77);
    EXPECT_EQ(seen.size(), 1u);
    send(SB_THUMBPOSITION, 200);
    send(SB_ENDSCROLL, 0);
    EXPECT_EQ(seen, (std::vector<int>{77, 200}));

    // Dropped where it stands: no change. Beyond the range: its end.
    send(SB_THUMBPOSITION, 200);
    send(SB_THUMBPOSITION, 300);
    send(SB_THUMBPOSITION, 0);
    EXPECT_EQ(seen, (std::vector<int>{77, 200, 255, 0}));
    EXPECT_EQ(GetScrollPos(bar.hwnd(), SB_CTL), 0);

    // A scroll that names another window (the form's own scroll bar, none
    // here; the form; another control) is not the bar's.
    TextBox text(form, 101, Box{0, 30, 100, 40}, u"abc");
    for (HWND other : {HWND{}, form.hwnd(), text.hwnd()}) {
        sendFrom(other, SB_THUMBPOSITION, 50);
        sendFrom(other, SB_LINERIGHT, 0);
    }
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(seen.size(), 4u);
    TakeQuit();
}

TEST(HScrollBar, AFormHasOne) {
    Form form(Instance(), TestStyle());
    HScrollBar& bar = form.createScrollBar(100, Box{0, 0, 100, 17}, HScrollBar::Range{0, 255, 1, 10});
    const HWND first = bar.hwnd();
    int changes = 0;
    bar.Change = Event{[](void* n) { ++*static_cast<int*>(n); }, &changes};
    EXPECT_THROW(form.createScrollBar(101, Box{0, 20, 100, 17}, HScrollBar::Range{0, 9, 1, 2}), Error);
    // The first one is still the form's, and still raises its change event.
    EXPECT_EQ(bar.hwnd(), first);
    SendMessageW(form.hwnd(), WM_HSCROLL, SB_LINERIGHT, reinterpret_cast<LPARAM>(first));
    EXPECT_EQ(bar.value(), 1);
    EXPECT_EQ(changes, 1);
    TakeQuit();
}

// ---- the timer ----

TEST(Form, RaisesTickFromItsTimer) {
    Form form(Instance(), TestStyle());
    int ticks = 0;
    form.Tick = Event{[](void* n) { ++*static_cast<int*>(n); }, &ticks};
    form.startTimer(10);

    // A timer's messages come through the thread's message loop.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    MSG msg{};
    while (ticks < 3 && std::chrono::steady_clock::now() < deadline) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
    }
    EXPECT_GE(ticks, 3);
    TakeQuit();
}

// ---- the icons ----

constexpr int kIconGroup = 1;  // forms_test.rc

struct DestroyedIcon {
    HICON icon;
    BOOL result;
    bool windowExisted;
};
std::vector<DestroyedIcon> g_destroyedIcons;
decltype(&DestroyIcon) g_destroyIcon = nullptr;
HWND g_iconWindow = nullptr;

BOOL WINAPI RecordingDestroyIcon(HICON icon) {
    const bool windowExisted = IsWindow(g_iconWindow) != FALSE;
    const BOOL result = g_destroyIcon(icon);
    g_destroyedIcons.push_back(DestroyedIcon{icon, result, windowExisted});
    return result;
}

// The width of an icon's image; 0 when there is no such icon.
int IconWidth(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap{};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST(Form, ShowsItsOwnSmallIconAndDestroysItOnceAfterTheWindow) {
    ImportPatch patch("user32.dll", "DestroyIcon", reinterpret_cast<void*>(&RecordingDestroyIcon));
    ASSERT_TRUE(patch.applied()) << "DestroyIcon is not imported from user32.dll by name";
    g_destroyIcon = reinterpret_cast<decltype(&DestroyIcon)>(patch.original());
    g_destroyedIcons.clear();

    HICON big = nullptr, small = nullptr;
    {
        FormStyle style = TestStyle();
        style.iconId = kIconGroup;
        Form form(Instance(), style);
        g_iconWindow = form.hwnd();
        big = reinterpret_cast<HICON>(SendMessageW(form.hwnd(), WM_GETICON, ICON_BIG, 0));
        small = reinterpret_cast<HICON>(SendMessageW(form.hwnd(), WM_GETICON, ICON_SMALL, 0));
        // Each of the set's own sizes, not one image drawn at both.
        EXPECT_EQ(IconWidth(big), GetSystemMetrics(SM_CXICON));
        EXPECT_EQ(IconWidth(small), GetSystemMetrics(SM_CXSMICON));
        EXPECT_NE(small, big);
        EXPECT_TRUE(g_destroyedIcons.empty()) << "an icon was destroyed while the window shows it";
    }
    // The small icon is the form's, destroyed once, after the window; the
    // large one is shared and the system's.
    ASSERT_EQ(g_destroyedIcons.size(), 1u);
    EXPECT_EQ(g_destroyedIcons[0].icon, small);
    EXPECT_TRUE(g_destroyedIcons[0].result);
    EXPECT_FALSE(g_destroyedIcons[0].windowExisted);
    EXPECT_NE(IconWidth(big), 0) << "the shared icon is gone";
    TakeQuit();
}

// ---- Tab between the tab stops ----

TEST(Form, MovesTheFocusOnWM_NEXTDLGCTLAsADialogDoes) {
    Form form(Instance(), TestStyle());
    HScrollBar& bar = form.createScrollBar(100, Box{0, 0, 100, 17}, HScrollBar::Range{0, 255, 1, 10});
    TextBox text(form, 101, Box{0, 30, 100, 40}, u"abc");
    ShowWindow(form.hwnd(), SW_SHOW);
    SetFocus(bar.hwnd());
    ASSERT_EQ(GetFocus(), bar.hwnd());

    // The next tab stop from the focus (what the text box sends for Tab), the
    // previous one (Shift+Tab), both wrapping; the control given in wParam.
    SendMessageW(form.hwnd(), WM_NEXTDLGCTL, 0, FALSE);
    EXPECT_EQ(GetFocus(), text.hwnd());
    DWORD start = 1, end = 0;
    SendMessageW(text.hwnd(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u) << "the text box's text is selected when it takes the focus";
    EXPECT_EQ(end, 3u);
    SendMessageW(form.hwnd(), WM_NEXTDLGCTL, 0, FALSE);
    EXPECT_EQ(GetFocus(), bar.hwnd());
    SendMessageW(form.hwnd(), WM_NEXTDLGCTL, 1, FALSE);
    EXPECT_EQ(GetFocus(), text.hwnd());
    SendMessageW(form.hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(bar.hwnd()), TRUE);
    EXPECT_EQ(GetFocus(), bar.hwnd());
    TakeQuit();
}

}  // namespace
}  // namespace kavrelo
