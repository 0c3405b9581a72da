#include <gtest/gtest.h>

#include <string_view>

#include "layout.h"

namespace kavrelo {
namespace {

// The default 9-point Chinese UI font: 6 pixels a single-byte character, 12 a
// double-byte one, 12 a line.
TextExtent NinePoint(std::u16string_view text) {
    int width = 0;
    for (char16_t c : text) width += c < 0x80 ? 6 : 12;
    return {width, 12};
}

TEST(LabelFit, WidthFollowsTheTextFromAFixedLeftEdge) {
    const Box placed{8, 8, 6, 12};
    const Box grown = FitLabel(placed, NinePoint(u"-2147483648"));
    EXPECT_EQ(grown.x, 8);
    EXPECT_EQ(grown.y, 8);
    EXPECT_EQ(grown.width, 66);
    EXPECT_EQ(grown.height, 12);

    const Box shrunk = FitLabel(grown, NinePoint(u"0"));
    EXPECT_EQ(shrunk.x, 8);
    EXPECT_EQ(shrunk.width, 6);
}

TEST(LabelFit, StoredSizesAreThoseOfTheirTexts) {
    EXPECT_EQ(FitLabel({360, 8, 0, 0}, NinePoint(u"未设置窗口")).width, 60);
    EXPECT_EQ(FitLabel({56, 64, 0, 0}, NinePoint(u"请将鼠标移至欲调整的窗口上，按F1后调整滚动条。")).width,
              276);
    EXPECT_EQ(FitLabel({8, 88, 0, 0}, NinePoint(u"版本：1.0")).width, 54);
}

TEST(LabelFit, AnEmptyTextLeavesOneLineOfNoWidth) {
    const Box b = FitLabel({16, 64, 6, 12}, {0, 12});
    EXPECT_EQ(b.width, 0);
    EXPECT_EQ(b.height, 12);
}

bool Same(Box a, Box b) { return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height; }

TEST(Twips, At96DpiEveryFigureIsTheStoredPixelOne) {
    // The client area and the boxes that are not sized by their texts.
    EXPECT_EQ(TwipsToPixels(6405, 96), 427);
    EXPECT_EQ(TwipsToPixels(3090, 96), 206);
    EXPECT_TRUE(Same(ToPixels({120, 480, 6015, 255}, 96), {8, 32, 401, 17}));
    EXPECT_TRUE(Same(ToPixels({120, 1680, 6135, 1215}, 96), {8, 112, 409, 81}));
    EXPECT_TRUE(Same(ToPixels({5400, 120, 900, 180}, 96), {360, 8, 60, 12}));
    EXPECT_EQ(PointsToPixels(9, 96), 12);
}

TEST(Twips, OtherDpisScaleAndRoundToTheNearestPixel) {
    // 120 dpi: 12 twips a pixel; 144 dpi: 10.
    EXPECT_EQ(TwipsToPixels(6405, 120), 534);  // 533.75
    EXPECT_EQ(TwipsToPixels(3090, 120), 258);  // 257.5, a half rounds up
    EXPECT_TRUE(Same(ToPixels({120, 480, 6015, 255}, 120), {10, 40, 501, 21}));  // 501.25, 21.25
    EXPECT_TRUE(Same(ToPixels({120, 480, 6015, 255}, 144), {12, 48, 602, 26}));  // 601.5, 25.5
    EXPECT_EQ(TwipsToPixels(6405, 144), 641);  // 640.5
    EXPECT_EQ(PointsToPixels(9, 120), 15);
    EXPECT_EQ(PointsToPixels(9, 144), 18);
    EXPECT_EQ(PointsToPixels(9, 72), 9);
    EXPECT_EQ(TwipsToPixels(-15, 96), -1);
    EXPECT_EQ(TwipsToPixels(-18, 120), -2);  // -1.5, away from zero like MulDiv
    EXPECT_EQ(TwipsToPixels(0, 144), 0);
}

}  // namespace
}  // namespace kavrelo
