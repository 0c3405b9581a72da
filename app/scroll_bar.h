// The form layer's horizontal scroll bar and its change rule: the Change event
// is raised once after every change of the value, whatever made it (an arrow,
// the trough, a key, a thumb drag, a WM_HSCROLL sent by another program), and
// never while the thumb is being dragged.
#pragma once

#include <windows.h>

#include <cstdint>

#include "controls.h"
#include "event.h"
#include "layout.h"

namespace kavrelo {

class Form;

class HScrollBar final : public ValueControl {
public:
    struct Range {
        int min, max, smallChange, largeChange;
    };
    HScrollBar(Form& form, int id, Box placed, Range range);
    ~HScrollBar() override;
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
    friend class Form;
    void followThumbWithCaret();

    Form* form_;  // null once the form is gone
    HWND hwnd_ = nullptr;
    Range range_;
    int value_;
};

}  // namespace kavrelo
