// The tool window's geometry rules (app/layout.h): twips to pixels at a DPI
// and a label sized to its text from a fixed left edge.
#include <gtest/gtest.h>

#include <string_view>

#include "layout.h"

namespace kavrelo {

bool operator==(Box a, Box b) { return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height; }
void PrintTo(Box b, std::ostream* os) { *os << b.x << "," << b.y << " " << b.width << "x" << b.height; }

namespace {

// The default 9-point Chinese UI font: 6 pixels a single-byte character, 12 a
// double-byte one, 12 a line.
TextExtent NinePoint(std::u16string_view text) {
    int width = 0;
    for (char16_t c : text) width += c < 0x80 ? 6 : 12;
    return {width, 12};
}

TEST(LabelFit, TheLeftTopEdgeStaysAndTheSizeIsTheTexts) {
    const Box grown = FitLabel({8, 8, 6, 12}, NinePoint(u"-2147483648"));
    EXPECT_EQ(grown, (Box{8, 8, 66, 12}));
    EXPECT_EQ(FitLabel(grown, NinePoint(u"0")), (Box{8, 8, 6, 12}));
    EXPECT_EQ(FitLabel({360, 8, 0, 0}, NinePoint(u"未设置窗口")).width, 60);
    EXPECT_EQ(FitLabel({56, 64, 0, 0}, NinePoint(u"请将鼠标移至欲调整的窗口上，按F1后调整滚动条。")).width, 276);
    EXPECT_EQ(FitLabel({8, 88, 0, 0}, NinePoint(u"版本：1.0")).width, 54);
    EXPECT_EQ(FitLabel({16, 64, 6, 12}, {0, 12}), (Box{16, 64, 0, 12}));
}

// Rounded to the nearest pixel, halves away from zero as MulDiv does.
TEST(Twips, ScaleWithTheDpiAndRoundToTheNearestPixel) {
    const int cases[][3] = {{6405, 96, 427}, {3090, 96, 206}, {6405, 120, 534}, {3090, 120, 258},
                            {6405, 144, 641}, {0, 144, 0},    {-15, 96, -1},   {-18, 120, -2}};
    for (const auto& c : cases) EXPECT_EQ(TwipsToPixels(c[0], c[1]), c[2]) << c[0] << " at " << c[1];
}

// 100 % to 500 % scaling; a whole 64-bit message parameter, high bits and all.
TEST(Twips, AMonitorsDpiIsFrom96To480) {
    for (unsigned long long dpi : {96ull, 120ull, 144ull, 480ull}) EXPECT_TRUE(IsMonitorDpi(dpi)) << dpi;
    for (unsigned long long dpi : {0ull, 1ull, 95ull, 481ull, 65535ull, (1ull << 32) + 144, ~0ull}) {
        EXPECT_FALSE(IsMonitorDpi(dpi)) << dpi;
    }
    // The layout's largest figures at the largest DPI stay in range.
    EXPECT_EQ(TwipsToPixels(6405, kMaxMonitorDpi), 2135);
}

TEST(Twips, BoxesAndTheFontScaleWithTheDpi) {
    EXPECT_EQ(ToPixels({120, 480, 6015, 255}, 96), (Box{8, 32, 401, 17}));
    EXPECT_EQ(ToPixels({120, 1680, 6135, 1215}, 96), (Box{8, 112, 409, 81}));
    EXPECT_EQ(ToPixels({5400, 120, 900, 180}, 96), (Box{360, 8, 60, 12}));
    EXPECT_EQ(ToPixels({120, 480, 6015, 255}, 120), (Box{10, 40, 501, 21}));
    EXPECT_EQ(ToPixels({120, 480, 6015, 255}, 144), (Box{12, 48, 602, 26}));
    for (auto [dpi, pixels] : {std::pair{72, 9}, {96, 12}, {120, 15}, {144, 18}}) {
        EXPECT_EQ(PointsToPixels(9, dpi), pixels) << dpi;
    }
}

}  // namespace
}  // namespace kavrelo
