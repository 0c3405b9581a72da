#include <gtest/gtest.h>

#include <string_view>

#include "label_fit.h"

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

}  // namespace
}  // namespace kavrelo
