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

}  // namespace

Library::~Library() {
    if (module_ != nullptr) FreeLibrary(module_);
}

HMODULE Library::module() {
    if (module_ == nullptr) {
        module_ = LoadLibraryW(name_);
        if (module_ == nullptr) {
            ErrorText text;
            text << u"找不到系统库 " << Wide(name_) << u"。";
            throw Error(ErrorCode::LibraryNotFound, text.view());
        }
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

std::int32_t User32WindowSystem::GetCursorPos(Point* point) {
    POINT p{point->x, point->y};
    const BOOL ok = getCursorPos_.as<GetCursorPosFn>()(&p);
    point->x = p.x;
    point->y = p.y;
    return ok;
}

Handle User32WindowSystem::WindowFromPoint(std::int32_t x, std::int32_t y) {
    return FromHwnd(windowFromPoint_.as<WindowFromPointFn>()(POINT{x, y}));
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
