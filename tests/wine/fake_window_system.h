// A window system of the tests' own, for the tool window's behaviours.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "window_system.h"

namespace kavrelo::test {

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

}  // namespace kavrelo::test
