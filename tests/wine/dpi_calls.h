// The DPI functions the program binds by name, seen as it calls them.
#pragma once

#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "import_patch.h"

namespace kavrelo::test {

// The DPI entries the program looks up by name, wrapped while this lives: the
// per-monitor and the system awareness the process asked for (context and
// whether granted), each thread context set and what it returned; and the
// thread's awareness made `awareness` (unless -1). And what was made before
// the first of the two declarations: every import of the executable that makes
// a window, a DC, a font, a bitmap or an image, or reads the system's metrics,
// is watched (uncovered() names any that is not).
class DpiCalls {
public:
    DpiCalls() : patch_("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&GetProcAddressHook)) {
        real_ = patch_.original<decltype(&GetProcAddress)>();
        Watch<__COUNTER__>("user32.dll", "CreateWindowExW", &CreateWindowExW);
        Watch<__COUNTER__>("user32.dll", "GetDC", &GetDC);
        Watch<__COUNTER__>("user32.dll", "GetSystemMetrics", &GetSystemMetrics);
        Watch<__COUNTER__>("user32.dll", "LoadImageW", &LoadImageW);
        Watch<__COUNTER__>("user32.dll", "LoadCursorW", &LoadCursorW);
        Watch<__COUNTER__>("user32.dll", "CreateIconFromResourceEx", &CreateIconFromResourceEx);
        Watch<__COUNTER__>("gdi32.dll", "CreateCompatibleDC", &CreateCompatibleDC);
        Watch<__COUNTER__>("gdi32.dll", "CreateFontW", &CreateFontW);
        Watch<__COUNTER__>("gdi32.dll", "CreateDIBSection", &CreateDIBSection);
        perMonitor = {};
        declared = 0;
        declaring = false;
        madeBeforeDeclared.clear();
        awareness = -1;
        contexts.clear();
    }
    bool applied() const {
        for (const auto& p : watches_) {
            if (!p->applied()) return false;
        }
        return patch_.applied();
    }
    std::string uncovered() const { return MakingImports(watched_); }
    struct ContextCall { INT_PTR set, returned; };
    static inline ContextCall perMonitor{};  // SetProcessDpiAwarenessContext
    static inline int declared = 0;          // SetProcessDPIAware calls
    static inline std::string madeBeforeDeclared;  // the watched imports called before, each followed by a space
    static inline std::vector<ContextCall> contexts;  // SetThreadDpiAwarenessContext
    static inline int awareness = -1;

private:
    static inline bool declaring = false;  // either declaration has been called
    template <int Id, typename R, typename... A>
    struct Watched {
        static inline R(WINAPI* real)(A...) = nullptr;
        static inline const char* name = nullptr;
        static R WINAPI Call(A... a) {
            if (!declaring) madeBeforeDeclared += std::string(name) + " ";
            return real(a...);
        }
    };
    template <int Id, typename R, typename... A>
    void Watch(const char* dll, const char* entry, R(WINAPI*)(A...)) {
        using W = Watched<Id, R, A...>;
        W::name = entry;
        if (void** slot = ImportPatch::Slot(dll, entry)) W::real = reinterpret_cast<R(WINAPI*)(A...)>(*slot);
        watched_.insert(entry);
        watches_.emplace_back(std::make_unique<ImportPatch>(dll, entry, reinterpret_cast<void*>(&W::Call)));
    }
    template <typename Fn>
    static Fn Real(const char* name) { return reinterpret_cast<Fn>(reinterpret_cast<void*>(real_(GetModuleHandleW(L"user32"), name))); }
    static BOOL WINAPI SetProcessDpiAwarenessContextHook(HANDLE context) {
        declaring = true;
        const BOOL granted = Real<BOOL(WINAPI*)(HANDLE)>("SetProcessDpiAwarenessContext")(context);
        perMonitor = {reinterpret_cast<INT_PTR>(context), granted};
        return granted;
    }
    static BOOL WINAPI SetProcessDPIAwareHook() {
        ++declared;
        declaring = true;
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
        return HookedEntry(
            real_(module, name), name,
            {{"SetProcessDpiAwarenessContext", reinterpret_cast<void*>(&SetProcessDpiAwarenessContextHook)},
             {"SetProcessDPIAware", reinterpret_cast<void*>(&SetProcessDPIAwareHook)},
             {"SetThreadDpiAwarenessContext", reinterpret_cast<void*>(&SetThreadDpiAwarenessContextHook)},
             {"GetAwarenessFromDpiAwarenessContext",
              reinterpret_cast<void*>(&GetAwarenessFromDpiAwarenessContextHook)}});
    }
    static inline decltype(&GetProcAddress) real_ = nullptr;
    ImportPatch patch_;
    std::vector<std::unique_ptr<ImportPatch>> watches_;
    std::set<std::string> watched_;
};

}  // namespace kavrelo::test
