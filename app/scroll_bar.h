// The form layer's horizontal scroll bar and its change rule: the Change event
// is raised once after every change of the value, whatever made it (an arrow,
// the trough, a key, a thumb drag, a WM_HSCROLL sent by another program), and
// never while the thumb is being dragged. The form creates and owns it (a row
// of its layout) and hands it the WM_HSCROLL of its control.
#pragma once

#include <windows.h>

#include <cstdint>

#include "controls.h"
#include "event.h"

namespace kavrelo {

class HScrollBar final : public ValueControl {
public:
    struct Range {
        int min, max, smallChange, largeChange;
    };
    // Takes a scroll bar control to the start of the range.
    HScrollBar(HWND control, Range range);
    HScrollBar(const HScrollBar&) = delete;
    HScrollBar& operator=(const HScrollBar&) = delete;

    std::int16_t value() const override { return static_cast<std::int16_t>(value_); }
    HWND hwnd() const noexcept { return hwnd_; }

    // Raised once after every change of the value.
    Event Change;

    // A WM_HSCROLL from the control (its code and the position it carries);
    // true when it changed the value.
    bool scrolled(int code, int position);

private:
    void followThumbWithCaret();

    const HWND hwnd_;
    const Range range_;
    int value_;
};

}  // namespace kavrelo
