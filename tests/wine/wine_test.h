// What every test with real windows shares: a fault ends the program at
// once, the message pump, a window's text, and handles as the program passes
// them.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "form.h"
#include "window_system.h"

namespace kavrelo::test {

inline HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

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

}  // namespace kavrelo::test
