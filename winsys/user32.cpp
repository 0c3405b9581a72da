#include "user32.h"

#include <cstring>

#include "error.h"

namespace kavrelo {

namespace {

HWND ToHwnd(Handle h) { return reinterpret_cast<HWND>(static_cast<INT_PTR>(h)); }
Handle FromHwnd(HWND h) { return static_cast<Handle>(reinterpret_cast<INT_PTR>(h)); }

std::u16string_view Wide(const wchar_t* s) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
    return {reinterpret_cast<const char16_t*>(s), std::wcslen(s)};
}

using GetCursorPosFn = BOOL(WINAPI*)(POINT*);
using WindowFromPointFn = HWND(WINAPI*)(POINT);
using GetKeyStateFn = SHORT(WINAPI*)(int);
using GetWindowLongAFn = LONG(WINAPI*)(HWND, int);
using SetWindowLongAFn = LONG(WINAPI*)(HWND, int, LONG);
using SetLayeredWindowAttributesFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);

static_assert(sizeof(Point) == sizeof(POINT), "Point must match POINT");

// Per-monitor DPI awareness contexts (Windows 10 1703 and 1607), which the
// XP-level headers do not declare.
const DpiContext kPerMonitorAwareV2 = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-4));
const DpiContext kPerMonitorAware = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-3));

}  // namespace

FARPROC OptionalUser32Address(const char* name) noexcept {
    return GetProcAddress(GetModuleHandleA("user32"), name);
}

Library::~Library() {
    if (module_ != nullptr) FreeLibrary(module_);
}

HMODULE Library::module() {
    if (module_ == nullptr) module_ = LoadLibraryW(name_);
    if (module_ == nullptr) {
        ErrorText text;
        text << u"找不到系统库 " << Wide(name_) << u"。";
        throw Error(ErrorCode::LibraryNotFound, text.view());
    }
    return module_;
}

FARPROC Entry::address() {
    if (address_ == nullptr) {
        address_ = GetProcAddress(library_.module(), name_);
        if (address_ == nullptr) {
            ErrorText text;
            text << u"在系统库 " << Wide(library_.name()) << u" 中找不到入口点 "
                 << std::string_view(name_) << u"。";
            throw Error(ErrorCode::EntryNotFound, text.view());
        }
    }
    return address_;
}

User32WindowSystem::User32WindowSystem(const User32Entries& entries) noexcept
    : getCursorPos_(user32_, entries.getCursorPos),
      windowFromPoint_(user32_, entries.windowFromPoint),
      getKeyState_(user32_, entries.getKeyState),
      getWindowLongA_(user32_, entries.getWindowLongA),
      setWindowLongA_(user32_, entries.setWindowLongA),
      setLayeredWindowAttributes_(user32_, entries.setLayeredWindowAttributes) {}

// A program that is not per-monitor DPI-aware gets pointer positions and
// hands WindowFromPoint points that Windows scales for monitors at another
// scaling, so the window picked is only as exact as that scaling. Where the
// process is per-monitor aware (Windows 10 1703 on, DeclareDpiAware) the two
// calls are in the screen's own pixels as they are. Where it is not, but
// Windows has thread contexts (Windows 10 1607, or a compatibility setting
// that keeps the process system-aware), they run in a per-monitor-aware
// thread context, and the thread's previous context is restored after each;
// elsewhere they run as they are. (Wine scales nothing: under Wine all ways
// give the same.)
class User32WindowSystem::ScreenPixels {
public:
    explicit ScreenPixels(User32WindowSystem& ws) noexcept : set_(ws.threadContextSetter()) {
        if (set_ == nullptr) return;
        previous_ = set_(kPerMonitorAwareV2);
        if (previous_ == nullptr) previous_ = set_(kPerMonitorAware);
    }
    ~ScreenPixels() {
        if (previous_ != nullptr) set_(previous_);
    }
    ScreenPixels(const ScreenPixels&) = delete;
    ScreenPixels& operator=(const ScreenPixels&) = delete;

private:
    const SetThreadDpiAwarenessContextFn set_;
    DpiContext previous_ = nullptr;
};

SetThreadDpiAwarenessContextFn User32WindowSystem::threadContextSetter() noexcept {
    if (!threadContextSought_) {
        threadContextSought_ = true;
        // DPI_AWARENESS_PER_MONITOR_AWARE: what the thread's context says,
        // under either version of per-monitor awareness.
        const auto get = OptionalUser32Entry<DpiContext(WINAPI*)()>("GetThreadDpiAwarenessContext");
        const auto awareness = OptionalUser32Entry<int(WINAPI*)(DpiContext)>("GetAwarenessFromDpiAwarenessContext");
        if (get == nullptr || awareness == nullptr || awareness(get()) != 2) {  // Windows 10 1607 on
            threadContextSetter_ = OptionalUser32Entry<SetThreadDpiAwarenessContextFn>("SetThreadDpiAwarenessContext");
        }
    }
    return threadContextSetter_;
}

std::int32_t User32WindowSystem::GetCursorPos(Point* point) {
    const auto fn = getCursorPos_.as<GetCursorPosFn>();
    ScreenPixels screenPixels(*this);
    POINT p{point->x, point->y};
    const BOOL ok = fn(&p);
    point->x = p.x;
    point->y = p.y;
    return ok;
}

Handle User32WindowSystem::WindowFromPoint(std::int32_t x, std::int32_t y) {
    const auto fn = windowFromPoint_.as<WindowFromPointFn>();
    ScreenPixels screenPixels(*this);
    return FromHwnd(fn(POINT{x, y}));
}

std::int16_t User32WindowSystem::GetKeyState(std::int32_t virtualKey) {
    return getKeyState_.as<GetKeyStateFn>()(virtualKey);
}

std::int32_t User32WindowSystem::GetWindowLongA(Handle window, std::int32_t index) {
    return getWindowLongA_.as<GetWindowLongAFn>()(ToHwnd(window), index);
}

std::int32_t User32WindowSystem::SetWindowLongA(Handle window, std::int32_t index, std::int32_t value) {
    return setWindowLongA_.as<SetWindowLongAFn>()(ToHwnd(window), index, value);
}

std::int32_t User32WindowSystem::SetLayeredWindowAttributes(Handle window, std::uint32_t colourKey,
                                                            std::uint8_t alpha, std::uint32_t flags) {
    return setLayeredWindowAttributes_.as<SetLayeredWindowAttributesFn>()(ToHwnd(window), colourKey,
                                                                          alpha, flags);
}

}  // namespace kavrelo
