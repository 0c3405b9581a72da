// The program's error box, read and dismissed from another thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "wine_test.h"

namespace kavrelo::test {

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
