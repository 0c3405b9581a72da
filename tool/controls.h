// What the behaviours see of the tool window: three label texts and the bar's
// value. Reads and writes may raise an Error (ControlAccess).
#pragma once

#include <cstdint>
#include <string_view>

#include "text.h"

namespace kavrelo {

class TextControl {
public:
    virtual ~TextControl() = default;
    // The text as last written.
    virtual Text text() const = 0;
    // Replaces the whole text; a label resizes itself to it.
    virtual void setText(std::u16string_view text) = 0;
};

class ValueControl {
public:
    virtual ~ValueControl() = default;
    virtual std::int16_t value() const = 0;
};

struct Form1Controls {
    TextControl& Label1;    // the bar's current value
    TextControl& Label2;    // handle text of the window under the pointer
    TextControl& Label3;    // handle text of the target window
    ValueControl& HScroll1; // transparency level, 0 to 255
};

}  // namespace kavrelo
