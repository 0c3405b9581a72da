// The tool window's geometry, kept free of Win32 so that its rules can be
// tested anywhere: the layout is stored in twips and turned into pixels at the
// DPI the system tells the program; a label sizes itself to its text.
#pragma once

namespace kavrelo {

// A position and size in pixels.
struct Box {
    int x, y, width, height;
};

// The same in twips: 1440 to an inch at any DPI, 15 to a pixel at 96 dpi.
struct TwipsBox {
    int x, y, width, height;
};

constexpr int kTwipsPerInch = 1440;
constexpr int kPointsPerInch = 72;

// The DPIs a monitor can have: Windows scales a monitor from 100 % to 500 %
// (the scale factors of DEVICE_SCALE_FACTOR), 96 to 480 dpi. A DPI that a
// message of another program carries is taken only in this range: a DPI of 0
// would collapse the layout, a large one overflow its arithmetic. Whole
// message parameters are compared, so that no high bits are cut off first.
constexpr int kMinMonitorDpi = 96, kMaxMonitorDpi = 480;
constexpr bool IsMonitorDpi(unsigned long long dpi) { return dpi >= kMinMonitorDpi && dpi <= kMaxMonitorDpi; }

// value * dpi / perInch, rounded to the nearest whole pixel (halves away from
// zero, as MulDiv does). In 32 bits: the layout's twips times any DPI a
// monitor can have (or the system reports) stay far below 2^31.
constexpr int ScaleRounded(int value, int dpi, int perInch) {
    const int scaled = value * dpi, half = perInch / 2;
    return scaled >= 0 ? (scaled + half) / perInch : -((-scaled + half) / perInch);
}

constexpr int TwipsToPixels(int twips, int dpi) { return ScaleRounded(twips, dpi, kTwipsPerInch); }

constexpr Box ToPixels(TwipsBox t, int dpi) {
    return Box{TwipsToPixels(t.x, dpi), TwipsToPixels(t.y, dpi), TwipsToPixels(t.width, dpi),
               TwipsToPixels(t.height, dpi)};
}

// The character height in pixels of a font of that many points.
constexpr int PointsToPixels(int points, int dpi) { return ScaleRounded(points, dpi, kPointsPerInch); }

struct TextExtent {
    int width;       // of the whole text, one line
    int lineHeight;  // of the font
};

// How a label sizes itself to its text: the left and top edges stay where the
// layout put them, the width becomes the width of the text and the height one
// line of the font.
constexpr Box FitLabel(Box placed, TextExtent extent) {
    return Box{placed.x, placed.y, extent.width < 0 ? 0 : extent.width, extent.lineHeight};
}

}  // namespace kavrelo
