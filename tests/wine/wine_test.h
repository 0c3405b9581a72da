// What the tests with real windows share: a fault ends the program at once,
// the message pump, a fake window system, this executable's imports replaced
// for a while and the objects it holds counted, the DPI entries it binds
// seen, and the error box read and dismissed from another thread.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "forms.h"
#include "window_system.h"

namespace kavrelo::test {

// A fault that nothing handles ends the test program at once, rather than
// starting Wine's debugger, which would wait for a user until the time-out.
inline LONG WINAPI EndOnFault(EXCEPTION_POINTERS* e) {
    std::fprintf(stderr, "unhandled exception 0x%08lx\n", static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode));
    return EXCEPTION_EXECUTE_HANDLER;
}
inline const auto kEndOnFault = SetUnhandledExceptionFilter(&EndOnFault);

// Pumps this thread's messages through the form's loop (or plainly) until
// done() holds or ms milliseconds have passed; returns done().
inline bool PumpUntil(const std::function<bool()>& done, DWORD ms = 5000, Form* form = nullptr) {
    for (const DWORD start = GetTickCount();; MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT)) {
        for (MSG msg{}; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
            if (msg.message == WM_QUIT) continue;
            if (form != nullptr) form->dispatch(msg); else DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start >= ms) return false;
    }
}

inline void Pump(DWORD ms, Form* form = nullptr) { PumpUntil([] { return false; }, ms, form); }

// Takes a pending WM_QUIT out of this thread's queue; its exit code, or -1.
inline int TakeQuit() {
    MSG msg{};
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) ? static_cast<int>(msg.wParam) : -1;
}

inline std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(window, buffer, 1024);
    return buffer;
}

inline HWND ToHwnd(Handle h) { return reinterpret_cast<HWND>(static_cast<INT_PTR>(h)); }
inline Handle FromHwnd(HWND h) { return static_cast<Handle>(reinterpret_cast<INT_PTR>(h)); }

// A window system whose pointer rests on `under` and whose F1 is `f1Down`;
// it records the calls that change a window.
struct FakeWindowSystem final : WindowSystem {
    Handle under = 0;
    bool f1Down = false;
    int ticks = 0;
    std::function<void()> onTick;  // called at each tick's first operation
    struct Call { Handle window; std::int32_t alpha; };
    std::vector<Call> alphas;

    std::int32_t GetCursorPos(Point* p) override {
        ++ticks;
        if (onTick) onTick();
        *p = Point{1, 2};
        return 1;
    }
    Handle WindowFromPoint(std::int32_t, std::int32_t) override { return under; }
    std::int16_t GetKeyState(std::int32_t) override { return f1Down ? -127 : 1; }
    std::int32_t GetWindowLongA(Handle, std::int32_t) override { return 0; }
    std::int32_t SetWindowLongA(Handle, std::int32_t, std::int32_t) override { return 0; }
    std::int32_t SetLayeredWindowAttributes(Handle h, std::uint32_t, std::uint8_t a, std::uint32_t) override {
        alphas.push_back({h, a});
        return 1;
    }
};

// Calls f(dll, entry, slot) for each entry this executable imports by name,
// with its slot in the import address table.
template <typename F>
void ForEachImport(F f) {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports); imp->Name != 0; ++imp) {
        auto* slot = reinterpret_cast<void**>(base + imp->FirstThunk);
        for (auto* name = reinterpret_cast<const ULONG_PTR*>(base + imp->OriginalFirstThunk); *name; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(*name)) continue;
            f(reinterpret_cast<const char*>(base + imp->Name),
              reinterpret_cast<const char*>(reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + *name)->Name), slot);
        }
    }
}

// Replaces, for its lifetime, the address this executable calls for one
// entry it imports (its slot in the import address table).
class ImportPatch {
public:
    ImportPatch(const char* dll, const char* entry, void* replacement) : slot_(Slot(dll, entry)) {
        if (slot_ == nullptr) return;
        original_ = *slot_;
        write(replacement);
    }
    // The slot of an entry this executable imports, or nullptr.
    static void** Slot(const char* dll, const char* entry) {
        void** found = nullptr;
        ForEachImport([&](const char* d, const char* e, void** slot) {
            if (lstrcmpiA(d, dll) == 0 && std::strcmp(e, entry) == 0) found = slot;
        });
        return found;
    }
    ~ImportPatch() {
        if (slot_ != nullptr) write(original_);
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    bool applied() const { return slot_ != nullptr; }
    template <typename Fn>
    Fn original() const { return reinterpret_cast<Fn>(original_); }

private:
    void write(void* value) {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    }
    void* original_ = nullptr;
    void** slot_ = nullptr;
};

inline BOOL CALLBACK CountWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}
inline BOOL CALLBACK CountWithDescendants(HWND window, LPARAM count) {
    EnumChildWindows(window, &CountWindow, count);  // every level below
    return CountWindow(window, count);
}

// What this thread came to hold while this lives: windows; and, counted
// through this executable's imports (the same on Windows and under Wine,
// whose GetGuiResources answers 0), GDI objects and DCs (gdi), icons loaded
// for itself (user) and C runtime heap blocks (heap) not released. An import
// that makes such an object and is counted nowhere is named by uncounted().
class HeldObjects {
public:
    HeldObjects() : windows_(Windows()) {
        Count<__COUNTER__>("gdi32.dll", "CreateCompatibleDC", &CreateCompatibleDC, &gdi, 1);
        Count<__COUNTER__>("gdi32.dll", "CreateFontW", &CreateFontW, &gdi, 1);
        Count<__COUNTER__>("gdi32.dll", "CreateDIBSection", &CreateDIBSection, &gdi, 1);
        Count<__COUNTER__>("gdi32.dll", "DeleteDC", &DeleteDC, &gdi, -1);
        Count<__COUNTER__>("gdi32.dll", "DeleteObject", &DeleteObject, &gdi, -1);
        Count<__COUNTER__>("user32.dll", "GetDC", &GetDC, &gdi, 1);
        Count<__COUNTER__>("user32.dll", "ReleaseDC", &ReleaseDC, &gdi, -1);
        Count<__COUNTER__>("user32.dll", "CreateIconFromResourceEx", &CreateIconFromResourceEx, &user, 1);
        Count<__COUNTER__>("user32.dll", "DestroyIcon", &DestroyIcon, &user, -1);
        Patch("user32.dll", "LoadImageW", &LoadImageHook, &loadImage_);
#ifdef __MINGW32__  // a C runtime in a DLL (msvcrt); MSVC's is linked in, and its heap not counted
        Patch("msvcrt.dll", "malloc", &MallocHook, &malloc_);
        Patch("msvcrt.dll", "calloc", &CallocHook, &calloc_);
        Patch("msvcrt.dll", "free", &FreeHook, &free_);
#endif
        gdi = user = heap = 0;
    }
    // {windows, gdi, user, heap} held now and not before.
    std::array<long, 4> counts() const { return {Windows() - windows_, gdi, user, heap}; }
    bool applied() const {
        return std::all_of(patches_.begin(), patches_.end(), [](const auto& p) { return p->applied(); });
    }
    static inline long gdi = 0, user = 0, heap = 0;

    // (CreateWindowExW: windows are enumerated; LoadCursorW: a shared cursor.)
    std::string uncounted() const {
        static const std::regex makes("(Create|Copy|Load|GetDC|GetWindowDC).*");
        std::string names;
        ForEachImport([&](const char* dll, const char* entry, void**) {
            const std::string e = entry;
            if ((!lstrcmpiA(dll, "gdi32.dll") || !lstrcmpiA(dll, "user32.dll")) && !counted_.count(e) &&
                std::regex_match(e, makes) && e != "CreateWindowExW" && e != "LoadCursorW") names += e + " ";
        });
        return names;
    }

private:
    static long Windows() {
        long n = 0;
        EnumThreadWindows(GetCurrentThreadId(), &CountWithDescendants, reinterpret_cast<LPARAM>(&n));
        return n;
    }
    template <int Id, typename R, typename... A>
    struct Counted {
        static inline R(WINAPI* real)(A...) = nullptr;
        static inline long* counter = nullptr;
        static inline int delta = 0;
        static R WINAPI Call(A... a) {
            const R r = real(a...);
            if (r) *counter += delta;
            return r;
        }
    };
    template <int Id, typename R, typename... A>
    void Count(const char* dll, const char* entry, R(WINAPI*)(A...), long* counter, int delta) {
        using C = Counted<Id, R, A...>;
        C::counter = counter;
        C::delta = delta;
        Patch(dll, entry, &C::Call, &C::real);
    }
    // The original is known before the hook goes in: the heap's hooks run meanwhile.
    template <typename Fn>
    void Patch(const char* dll, const char* entry, Fn hook, Fn* original) {
        if (void** slot = ImportPatch::Slot(dll, entry)) *original = reinterpret_cast<Fn>(*slot);
        counted_.insert(entry);
        patches_.emplace_back(std::make_unique<ImportPatch>(dll, entry, reinterpret_cast<void*>(hook)));
    }

    static HANDLE WINAPI LoadImageHook(HINSTANCE i, LPCWSTR n, UINT t, int cx, int cy, UINT flags) {
        HANDLE h = loadImage_(i, n, t, cx, cy, flags);
        if (h != nullptr && !(flags & LR_SHARED)) ++user;  // a shared image is the system's
        return h;
    }
    static void* Held(void* p) { return heap += p != nullptr, p; }
    static void* __cdecl MallocHook(size_t n) { return Held(malloc_(n)); }
    static void* __cdecl CallocHook(size_t n, size_t size) { return Held(calloc_(n, size)); }
    static void __cdecl FreeHook(void* p) { heap -= p != nullptr, free_(p); }
    static inline decltype(&LoadImageW) loadImage_ = nullptr;
    static inline void*(__cdecl* malloc_)(size_t) = nullptr;
    static inline void*(__cdecl* calloc_)(size_t, size_t) = nullptr;
    static inline void(__cdecl* free_)(void*) = nullptr;
    const long windows_;
    std::vector<std::unique_ptr<ImportPatch>> patches_;
    std::set<std::string> counted_;
};

// The DPI entries the program looks up by name, wrapped while this lives: the
// per-monitor and the system awareness the process asked for (context, whether
// granted, whether a window existed by then), each thread context set and what
// it returned; and the thread's awareness made `awareness` (unless -1).
class DpiCalls {
public:
    DpiCalls() : patch_("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&GetProcAddressHook)) {
        real_ = patch_.original<decltype(&GetProcAddress)>();
        perMonitor = {}, declared = 0, windowBeforeDeclared = false, awareness = -1;
        contexts.clear();
    }
    bool applied() const { return patch_.applied(); }
    struct ContextCall { INT_PTR set, returned; };
    static inline ContextCall perMonitor{};  // SetProcessDpiAwarenessContext
    static inline int declared = 0;          // SetProcessDPIAware calls
    static inline bool windowBeforeDeclared = false;
    static inline std::vector<ContextCall> contexts;  // SetThreadDpiAwarenessContext
    static inline int awareness = -1;

private:
    template <typename Fn>
    static Fn Real(const char* name) { return reinterpret_cast<Fn>(reinterpret_cast<void*>(real_(GetModuleHandleW(L"user32"), name))); }
    static BOOL WINAPI SetProcessDpiAwarenessContextHook(HANDLE context) {
        windowBeforeDeclared |= FindWindowW(L"KavreloForm", nullptr) != nullptr;
        const BOOL granted = Real<BOOL(WINAPI*)(HANDLE)>("SetProcessDpiAwarenessContext")(context);
        perMonitor = {reinterpret_cast<INT_PTR>(context), granted};
        return granted;
    }
    static BOOL WINAPI SetProcessDPIAwareHook() {
        ++declared;
        windowBeforeDeclared |= FindWindowW(L"KavreloForm", nullptr) != nullptr;
        return Real<BOOL(WINAPI*)()>("SetProcessDPIAware")();
    }
    static HANDLE WINAPI SetThreadDpiAwarenessContextHook(HANDLE context) {
        HANDLE previous = Real<HANDLE(WINAPI*)(HANDLE)>("SetThreadDpiAwarenessContext")(context);
        contexts.push_back({reinterpret_cast<INT_PTR>(context), reinterpret_cast<INT_PTR>(previous)});
        return previous;
    }
    static int WINAPI GetAwarenessFromDpiAwarenessContextHook(HANDLE context) {
        return awareness != -1 ? awareness : Real<int(WINAPI*)(HANDLE)>("GetAwarenessFromDpiAwarenessContext")(context);
    }
    static FARPROC WINAPI GetProcAddressHook(HMODULE module, LPCSTR name) {
        const FARPROC real = real_(module, name);
        if (real == nullptr || IS_INTRESOURCE(name)) return real;
        const std::pair<const char*, void*> hooks[] = {
            {"SetProcessDpiAwarenessContext", reinterpret_cast<void*>(&SetProcessDpiAwarenessContextHook)},
            {"SetProcessDPIAware", reinterpret_cast<void*>(&SetProcessDPIAwareHook)},
            {"SetThreadDpiAwarenessContext", reinterpret_cast<void*>(&SetThreadDpiAwarenessContextHook)},
            {"GetAwarenessFromDpiAwarenessContext", reinterpret_cast<void*>(&GetAwarenessFromDpiAwarenessContextHook)}};
        for (const auto& [entry, hook] : hooks) {
            if (std::strcmp(name, entry) == 0) return reinterpret_cast<FARPROC>(hook);
        }
        return real;
    }
    static inline decltype(&GetProcAddress) real_ = nullptr;
    ImportPatch patch_;
};

// Watches, from another thread, for the error box ("Kavrelo", a dialog of
// this thread), reads it, and dismisses it with OK once it has stayed up for
// `hold` milliseconds.
class ErrorBoxWatcher {
public:
    explicit ErrorBoxWatcher(DWORD hold) : thread_(GetCurrentThreadId()), worker_([this, hold] { watch(hold); }) {}
    ~ErrorBoxWatcher() { finish(); }
    ErrorBoxWatcher(const ErrorBoxWatcher&) = delete;
    ErrorBoxWatcher& operator=(const ErrorBoxWatcher&) = delete;

    void finish() {
        done_ = true;
        if (worker_.joinable()) worker_.join();
    }
    int boxes = 0;          // boxes of this thread seen at once, at most
    bool stayedUp = false;  // until dismissed
    std::wstring ownerClass;  // empty: no owner
    std::wstring text;

private:
    std::vector<HWND> find() const {
        std::vector<HWND> found;
        for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", L"Kavrelo")) != nullptr;) {
            if (GetWindowThreadProcessId(box, nullptr) == thread_ && IsWindowVisible(box)) found.push_back(box);
        }
        return found;
    }
    void watch(DWORD hold) {
        std::vector<HWND> found;
        for (DWORD start = GetTickCount(); !done_ && GetTickCount() - start < 20000 && (found = find()).empty();) {
            Sleep(20);
        }
        if (found.empty()) return;
        HWND box = found.front();
        if (HWND owner = GetWindow(box, GW_OWNER)) {
            wchar_t cls[64] = {};
            GetClassNameW(owner, cls, 64);
            ownerClass = cls;
        }
        for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) text += TextOf(c) + L"\n";
        bool up = true;
        for (DWORD start = GetTickCount(); up && GetTickCount() - start < hold; Sleep(20)) {
            const int n = static_cast<int>(find().size());
            if (n > boxes) boxes = n;
            up = IsWindow(box) && IsWindowVisible(box);
        }
        stayedUp = up;
        if (IsWindow(box)) PostMessageW(box, WM_COMMAND, IDOK, 0);
    }

    DWORD thread_;
    std::atomic<bool> done_{false};
    std::thread worker_;
};

}  // namespace kavrelo::test
