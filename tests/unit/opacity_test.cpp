#include <gtest/gtest.h>

#include "behaviours.h"
#include "fakes.h"
#include "handle_text.h"

namespace kavrelo {
namespace {

using testing::Call;
using testing::FakeForm;
using testing::FakeWindowSystem;

constexpr Handle kTarget = 0x00030042;
constexpr std::int32_t kVisible = 0x00000100;  // some extended style of the target's own

struct Opacity : ::testing::Test {
    FakeForm form;
    FakeWindowSystem ws;

    void capture(Handle h, std::int32_t exStyle = kVisible) {
        ws.windows[h].exStyle = exStyle;
        form.label3.text_ = std::u16string(DecimalText(h).view());
    }
    void change(std::int16_t value) {
        form.bar.value_ = value;
        HScroll1_Change(form.controls, ws);
    }
};

TEST_F(Opacity, ACapturedTargetGetsTheLayeredStyleAndTheAlphaInThisOrder) {
    capture(kTarget);
    change(100);

    EXPECT_EQ(form.label1.text_, u"100");
    const std::vector<Call> expected{
        {"GetWindowLongA", {kTarget, -20}},
        {"SetWindowLongA", {kTarget, -20, kVisible | 0x80000}},
        {"SetLayeredWindowAttributes", {kTarget, 0, 155, 2}},
    };
    EXPECT_EQ(ws.calls, expected);
    EXPECT_EQ(ws.windows[kTarget].alpha, 155);
    EXPECT_EQ(ws.windows[kTarget].flags, 2u);
}

TEST_F(Opacity, AlphaIs255MinusTheValue) {
    capture(kTarget);
    for (auto [value, alpha] : {std::pair{0, 255}, {100, 155}, {255, 0}, {1, 254}, {254, 1}}) {
        change(static_cast<std::int16_t>(value));
        EXPECT_EQ(ws.windows[kTarget].alpha, alpha) << value;
        EXPECT_EQ(form.label1.text_, std::u16string(DecimalText(value).view()));
    }
}

TEST_F(Opacity, TheLayeredBitIsWrittenOnEveryChangeAndNeverCleared) {
    capture(kTarget, kVisible | kWsExLayered);
    change(10);
    change(0);
    change(10);  // a value applied before is applied again
    int styleWrites = 0;
    for (const auto& c : ws.calls) {
        if (c.op == "SetWindowLongA") {
            ++styleWrites;
            EXPECT_EQ(c.args[2], kVisible | kWsExLayered);
        }
    }
    EXPECT_EQ(styleWrites, 3);
    EXPECT_EQ(ws.windows[kTarget].exStyle & kWsExLayered, kWsExLayered);
    EXPECT_EQ(ws.windows[kTarget].alpha, 245);
}

TEST_F(Opacity, BeforeAnyCaptureOnlyTheValueIsShown) {
    change(37);
    EXPECT_EQ(form.label1.text_, u"37");
    EXPECT_EQ(form.label3.text_, u"未设置窗口");
    EXPECT_TRUE(ws.calls.empty());
}

TEST_F(Opacity, TextThatIsNoHandleEndsTheHandlerQuietly) {
    for (std::u16string_view bad : {u"2147483648", u"-2147483649", u"abc", u""}) {
        form.label3.text_ = std::u16string(bad);
        ws.calls.clear();
        EXPECT_NO_THROW(change(50));
        EXPECT_EQ(form.label1.text_, u"50");
        EXPECT_TRUE(ws.calls.empty());
    }
}

TEST_F(Opacity, TheMostNegativeHandleIsPassedThrough) {
    capture(INT32_MIN);
    change(200);
    ASSERT_EQ(ws.calls.size(), 3u);
    for (const auto& c : ws.calls) EXPECT_EQ(c.args[0], INT32_MIN);
    EXPECT_EQ(ws.windows[INT32_MIN].alpha, 55);
}

TEST_F(Opacity, AWindowThatNoLongerExistsRunsTheHandlerToItsEnd) {
    // Handle 0, or a target closed after its capture: the calls fail
    // silently, GetWindowLongA answers 0 and the style written is the layered
    // bit alone.
    for (Handle gone : {0, 0x00050066}) {
        form.label3.text_ = std::u16string(DecimalText(gone).view());
        ws.calls.clear();
        change(20);
        const std::vector<Call> expected{
            {"GetWindowLongA", {gone, -20}},
            {"SetWindowLongA", {gone, -20, 0x80000}},
            {"SetLayeredWindowAttributes", {gone, 0, 235, 2}},
        };
        EXPECT_EQ(ws.calls, expected);
        EXPECT_EQ(form.label1.text_, u"20");
    }
    EXPECT_TRUE(ws.windows.empty());
}

TEST_F(Opacity, AMissingLayeredEntryLeavesTheStyleWrittenAndIsTrapped) {
    capture(kTarget);
    ws.unbound = {"SetLayeredWindowAttributes"};
    EXPECT_NO_THROW(change(128));
    EXPECT_EQ(form.label1.text_, u"128");
    EXPECT_EQ(ws.ops(), (std::vector<std::string>{"GetWindowLongA", "SetWindowLongA"}));
    EXPECT_EQ(ws.windows[kTarget].exStyle, kVisible | kWsExLayered);
    EXPECT_FALSE(ws.windows[kTarget].layeredSet);
}

TEST_F(Opacity, ControlErrorsAreTrapped) {
    capture(kTarget);
    form.label1.failWrite = true;
    EXPECT_NO_THROW(change(5));
    EXPECT_TRUE(ws.calls.empty());

    form.label1.failWrite = false;
    form.label3.failRead = true;
    EXPECT_NO_THROW(change(6));
    EXPECT_EQ(form.label1.text_, u"6");
    EXPECT_TRUE(ws.calls.empty());
}

TEST_F(Opacity, ValuesOutsideTheBarsRangeOverflowInsteadOfWrapping) {
    capture(kTarget);
    // 255 - 256 does not fit a byte; 255 - (-32768) does not fit 16 bits.
    for (std::int16_t v : {std::int16_t{256}, std::int16_t{-1}, std::int16_t{INT16_MIN}, std::int16_t{INT16_MAX}}) {
        ws.calls.clear();
        EXPECT_NO_THROW(change(v));
        EXPECT_EQ(ws.ops(), (std::vector<std::string>{"GetWindowLongA", "SetWindowLongA"})) << v;
    }
    EXPECT_FALSE(ws.windows[kTarget].layeredSet);
}

TEST(AlphaForValue, CheckedConversions) {
    EXPECT_EQ(AlphaForValue(0), 255);
    EXPECT_EQ(AlphaForValue(255), 0);
    EXPECT_THROW(AlphaForValue(256), Error);
    EXPECT_THROW(AlphaForValue(-1), Error);
    try {
        AlphaForValue(INT16_MIN);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::Overflow);
    }
}

}  // namespace
}  // namespace kavrelo
