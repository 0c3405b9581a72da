// What the program comes to hold while a test runs: windows, GDI objects
// and DCs, icons and heap blocks, counted through its imports.
#pragma once

#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "import_patch.h"

namespace kavrelo::test {

inline BOOL CALLBACK CountWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}
inline BOOL CALLBACK CountWithDescendants(HWND window, LPARAM count) {
    EnumChildWindows(window, &CountWindow, count);  // every level below
    return CountWindow(window, count);
}

// The device contexts this executable has selected an object into (its import
// of SelectObject, watched from the test program's start), to tell where an
// object still is when it is deleted.
class SelectedObjects {
public:
    SelectedObjects() {
        if (void** slot = ImportPatch::Slot("gdi32.dll", "SelectObject")) real_ = reinterpret_cast<decltype(real_)>(*slot);
        patch_ = std::make_unique<ImportPatch>("gdi32.dll", "SelectObject", reinterpret_cast<void*>(&SelectHook));
    }
    // Whether the object is selected into one of those DCs now.
    static bool Selected(HGDIOBJ object) {
        const DWORD type = GetObjectType(object);
        for (HDC dc : dcs_) {
            if (dc != nullptr && GetObjectType(dc) != 0 && GetCurrentObject(dc, type) == object) return true;
        }
        return false;
    }

private:
    static HGDIOBJ WINAPI SelectHook(HDC dc, HGDIOBJ object) {
        Remember(dc);
        return real_(dc, object);
    }
    // In the first free place, or one whose DC is gone.
    static void Remember(HDC dc) {
        HDC* free = nullptr;
        for (HDC& known : dcs_) {
            if (known == dc) return;
            if (free == nullptr && (known == nullptr || GetObjectType(known) == 0)) free = &known;
        }
        if (free != nullptr) *free = dc;
    }
    static inline HDC dcs_[64] = {};
    static inline decltype(&SelectObject) real_ = nullptr;
    std::unique_ptr<ImportPatch> patch_;
};
inline const SelectedObjects kSelectedObjects;

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
        Patch("gdi32.dll", "DeleteObject", &DeleteObjectHook, &deleteObject_);
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

    // (CreateWindowExW: windows are enumerated; LoadCursorW: a shared cursor;
    // GetSystemMetrics: a number.)
    std::string uncounted() const {
        std::set<std::string> except = counted_;
        except.insert({"CreateWindowExW", "LoadCursorW", "GetSystemMetrics"});
        return MakingImports(except);
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
    // Deleting an object still selected into a DC fails on Windows, which
    // keeps the object (Microsoft's DeleteObject page: the return value is
    // zero when the handle "is currently selected into a DC"); Wine frees it
    // and answers nonzero. Either way it is not a release.
    static BOOL WINAPI DeleteObjectHook(HGDIOBJ object) {
        const bool selected = SelectedObjects::Selected(object);
        const BOOL deleted = deleteObject_(object);
        if (deleted && !selected) --gdi;
        return deleted;
    }
    static void* Held(void* p) {
        if (p != nullptr) ++heap;
        return p;
    }
    static void* __cdecl MallocHook(size_t n) { return Held(malloc_(n)); }
    static void* __cdecl CallocHook(size_t n, size_t size) { return Held(calloc_(n, size)); }
    static void __cdecl FreeHook(void* p) {
        if (p != nullptr) --heap;
        free_(p);
    }
    static inline decltype(&DeleteObject) deleteObject_ = nullptr;
    static inline decltype(&LoadImageW) loadImage_ = nullptr;
    static inline void*(__cdecl* malloc_)(size_t) = nullptr;
    static inline void*(__cdecl* calloc_)(size_t, size_t) = nullptr;
    static inline void(__cdecl* free_)(void*) = nullptr;
    const long windows_;
    std::vector<std::unique_ptr<ImportPatch>> patches_;
    std::set<std::string> counted_;
};

}  // namespace kavrelo::test
