// The DPI functions the program binds by name, seen as it calls them.
#pragma once

#include <windows.h>

#include <cstring>
#include <utility>
#include <vector>

#include "import_patch.h"

namespace kavrelo::test {

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

}  // namespace kavrelo::test
