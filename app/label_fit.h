// How a label sizes itself to its text: the left and top edges stay where the
// layout put them, the width becomes the width of the text and the height one
// line of the font. Kept free of Win32 so that the rule can be tested anywhere.
#pragma once

namespace kavrelo {

struct Box {
    int x, y, width, height;
};

struct TextExtent {
    int width;       // of the whole text, one line
    int lineHeight;  // of the font
};

constexpr Box FitLabel(Box placed, TextExtent extent) {
    return Box{placed.x, placed.y, extent.width < 0 ? 0 : extent.width, extent.lineHeight};
}

}  // namespace kavrelo
