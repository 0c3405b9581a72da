// The six window-system operations the behaviours use. The real ones are bound
// from "user32" by entry name at first call; tests use a fake. Any of them may
// raise an Error (an operation that cannot be bound); their results are
// otherwise the window system's own, failures included.
#pragma once

#include <cstdint>

namespace kavrelo {

// Two signed 32-bit screen coordinates, x then y.
struct Point {
    std::int32_t x;
    std::int32_t y;
};

// A window handle held as a signed 32-bit integer.
using Handle = std::int32_t;

constexpr std::int32_t kVkF1 = 0x70;
constexpr std::int32_t kGwlExStyle = -20;
constexpr std::int32_t kWsExLayered = 0x80000;
constexpr std::uint32_t kLwaAlpha = 2;

// Where the Windows headers have been seen (winuser.h defines _WINUSER_ in
// both the Windows SDK and MinGW-w64), the constants must be the SDK's. With
// _WIN32_WINNT below 0x0500, WS_EX_LAYERED and LWA_ALPHA are not declared and
// this fails to compile.
#ifdef _WINUSER_
static_assert(kVkF1 == VK_F1, "kVkF1 must be VK_F1");
static_assert(kGwlExStyle == GWL_EXSTYLE, "kGwlExStyle must be GWL_EXSTYLE");
static_assert(kWsExLayered == WS_EX_LAYERED, "kWsExLayered must be WS_EX_LAYERED");
static_assert(kLwaAlpha == LWA_ALPHA, "kLwaAlpha must be LWA_ALPHA");
#endif

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    virtual std::int32_t GetCursorPos(Point* point) = 0;
    virtual Handle WindowFromPoint(std::int32_t x, std::int32_t y) = 0;
    virtual std::int16_t GetKeyState(std::int32_t virtualKey) = 0;
    virtual std::int32_t GetWindowLongA(Handle window, std::int32_t index) = 0;
    virtual std::int32_t SetWindowLongA(Handle window, std::int32_t index, std::int32_t value) = 0;
    virtual std::int32_t SetLayeredWindowAttributes(Handle window, std::uint32_t colourKey,
                                                    std::uint8_t alpha, std::uint32_t flags) = 0;
};

}  // namespace kavrelo
