// The real window-system operations: each is looked up in "user32" by its
// entry name at its first call, and the address found stays in use for the
// rest of the run. A failed lookup raises an Error at that call.
#pragma once

#include <windows.h>

#include "window_system.h"

namespace kavrelo {

// DPI_AWARENESS_CONTEXT, which the XP-level headers do not declare.
using DpiContext = HANDLE;
using SetThreadDpiAwarenessContextFn = DpiContext(WINAPI*)(DpiContext);

// A system library loaded by name on first use and released with its owner.
class Library {
public:
    explicit Library(const wchar_t* name) noexcept : name_(name) {}
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const wchar_t* name() const noexcept { return name_; }
    // Raises LibraryNotFound when the library cannot be loaded.
    HMODULE module();

private:
    const wchar_t* name_;
    HMODULE module_ = nullptr;
};

// One entry of a library, bound at its first call.
class Entry {
public:
    Entry(Library& library, const char* name) noexcept : library_(library), name_(name) {}
    const char* name() const noexcept { return name_; }
    // Raises EntryNotFound (or LibraryNotFound) when the lookup fails; a
    // failed lookup is tried again at the next call.
    FARPROC address();

    template <typename Fn>
    Fn as() { return reinterpret_cast<Fn>(reinterpret_cast<void*>(address())); }

private:
    Library& library_;
    const char* name_;
    FARPROC address_ = nullptr;
};

// An entry of user32 (which the program imports, so it is loaded) that the
// program can do without, one that older systems lack: its address, or
// nullptr. Never raises.
FARPROC OptionalUser32Address(const char* name) noexcept;
template <typename Fn>
Fn OptionalUser32Entry(const char* name) noexcept {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(OptionalUser32Address(name)));
}

// The entry names the program binds, exact to the letter. They can be given
// differently, so that a test build can make one of them fail to bind.
struct User32Entries {
    const char* getCursorPos = "GetCursorPos";
    const char* windowFromPoint = "WindowFromPoint";
    const char* getKeyState = "GetKeyState";
    const char* getWindowLongA = "GetWindowLongA";
    const char* setWindowLongA = "SetWindowLongA";
    const char* setLayeredWindowAttributes = "SetLayeredWindowAttributes";
};

class User32WindowSystem final : public WindowSystem {
public:
    explicit User32WindowSystem(const User32Entries& entries = User32Entries{}) noexcept;

    std::int32_t GetCursorPos(Point* point) override;
    Handle WindowFromPoint(std::int32_t x, std::int32_t y) override;
    std::int16_t GetKeyState(std::int32_t virtualKey) override;
    std::int32_t GetWindowLongA(Handle window, std::int32_t index) override;
    std::int32_t SetWindowLongA(Handle window, std::int32_t index, std::int32_t value) override;
    std::int32_t SetLayeredWindowAttributes(Handle window, std::uint32_t colourKey,
                                            std::uint8_t alpha, std::uint32_t flags) override;

private:
    // Runs GetCursorPos and WindowFromPoint in the screen's own pixels.
    class ScreenPixels;
    // SetThreadDpiAwarenessContext where the thread needs another context
    // for that, or nullptr; found out at the first call.
    SetThreadDpiAwarenessContextFn threadContextSetter() noexcept;

    Library user32_{L"user32"};
    SetThreadDpiAwarenessContextFn threadContextSetter_ = nullptr;
    bool threadContextSought_ = false;
    Entry getCursorPos_;
    Entry windowFromPoint_;
    Entry getKeyState_;
    Entry getWindowLongA_;
    Entry setWindowLongA_;
    Entry setLayeredWindowAttributes_;
};

}  // namespace kavrelo
