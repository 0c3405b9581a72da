// The two behaviours, Timer1_Timer and HScroll1_Change, against fakes of the
// tool window's controls and of the window system (fakes.h).
#include <gtest/gtest.h>

#include "behaviours.h"
#include "fakes.h"
#include "handle_text.h"

namespace kavrelo {

void PrintTo(const Text& t, std::ostream* os) { *os << ::testing::PrintToString(std::u16string(t.view())); }

namespace {

using testing::Call;
using Calls = std::vector<Call>;

constexpr const char16_t* kNotSet = u"未设置窗口";
constexpr std::int16_t kDown = static_cast<std::int16_t>(0xFF80);

struct Behaviours : ::testing::Test {
    testing::FakeForm form;
    testing::FakeWindowSystem ws;
    void tick() { Timer1_Timer(form.controls, ws); }
    void change(std::int16_t value) {
        form.bar.value_ = value;
        ws.count = 0;
        HScroll1_Change(form.controls, ws);
    }
};

// ---- Timer1_Timer ----------------------------------------------------------

using Tick = Behaviours;

TEST_F(Tick, ShowsTheWindowUnderThePointerAndLeavesTheTargetAlone) {
    ws.cursor = {300, 200};
    ws.under = 65590;
    tick();
    EXPECT_EQ(form.label2.text_, u"65590");
    EXPECT_EQ(form.label3.text_, kNotSet);
    EXPECT_EQ(form.label1.writes, 0);
    EXPECT_EQ(ws.log(), (Calls{{"GetCursorPos", {0, 0}}, {"WindowFromPoint", {300, 200}}, {"GetKeyState", {0x70}}}));
}

TEST_F(Tick, OnlyANegativeKeyStateMeansF1IsDown) {
    ws.under = INT32_MIN;
    for (int state : {0, 1, 0x7FFF, 0x8000, 0xFF80, 0xFFFF}) {
        form.label3.text_ = Text(kNotSet);
        ws.keyState = static_cast<std::int16_t>(state);
        tick();
        EXPECT_EQ(form.label3.text_, state < 0x8000 ? kNotSet : u"-2147483648") << state;
    }
}

TEST_F(Tick, TheTargetFollowsThePointerWhileF1IsDownAndStaysWhenReleased) {
    ws.keyState = kDown;
    for (Handle h : {1234, 77}) { ws.under = h; tick(); }
    EXPECT_EQ(form.label3.text_, u"77");
    EXPECT_EQ(form.label3.writes, 2);
    ws.keyState = 1;  // toggled, not down
    ws.under = 42;
    tick();
    EXPECT_EQ(form.label2.text_, u"42");
    EXPECT_EQ(form.label3.text_, u"77");
}

TEST_F(Tick, ThePointStartsAtZeroEveryTickAndAFailingCursorCallIsIgnored) {
    ws.cursor = {640, 480};
    tick();
    ws.cursorAnswers = false;
    ws.count = 0;
    tick();
    EXPECT_EQ(ws.log(), (Calls{{"GetCursorPos", {0, 0}}, {"WindowFromPoint", {0, 0}}, {"GetKeyState", {0x70}}}));
}

TEST_F(Tick, Label2IsWrittenOnEveryTickEvenWhenUnchanged) {
    for (int i = 0; i < 3; ++i) tick();
    EXPECT_EQ(form.label2.writes, 3);
}

TEST_F(Tick, ErrorsAreLeftToTheCaller) {
    ws.unbound = "GetCursorPos";
    EXPECT_THROW(tick(), Error);
    EXPECT_EQ(form.label2.writes, 0);

    ws.unbound = "GetKeyState";  // Label2 is already written
    ws.under = 5;
    EXPECT_THROW(tick(), Error);
    EXPECT_EQ(form.label2.text_, u"5");

    ws.unbound = "";
    ws.keyState = kDown;
    form.label2.failRead = true;
    EXPECT_THROW(tick(), Error);
    EXPECT_EQ(form.label3.text_, kNotSet);
}

// ---- HScroll1_Change -------------------------------------------------------

constexpr Handle kTarget = 0x00030042;
constexpr std::int32_t kOwnStyle = 0x100;  // some extended style of the target's own

Calls Applied(Handle h, std::int32_t style, std::int64_t alpha) {
    return {{"GetWindowLongA", {h, -20}}, {"SetWindowLongA", {h, -20, style}},
            {"SetLayeredWindowAttributes", {h, 0, alpha, 2}}};
}

struct Alpha { std::int16_t value; std::uint8_t alpha; };
void PrintTo(Alpha a, std::ostream* os) { *os << a.value << " -> " << int{a.alpha}; }

struct ChangeValue : Behaviours, ::testing::WithParamInterface<Alpha> {};

// The layered bit is OR'ed into the style on every change, also at 0.
TEST_P(ChangeValue, ShowsTheValueAndMakesTheTargetLayeredWithAlpha255MinusIt) {
    form.label3.text_ = DecimalText(kTarget);
    for (std::int32_t style : {kOwnStyle, kOwnStyle | kWsExLayered}) {
        ws.style = style;
        change(GetParam().value);
        EXPECT_EQ(form.label1.text_, DecimalText(GetParam().value).view());
        EXPECT_EQ(ws.log(), Applied(kTarget, style | kWsExLayered, GetParam().alpha));
    }
    EXPECT_EQ(AlphaForValue(GetParam().value), GetParam().alpha);
}

INSTANTIATE_TEST_SUITE_P(Values, ChangeValue,
                         ::testing::Values(Alpha{0, 255}, Alpha{1, 254}, Alpha{100, 155}, Alpha{254, 1}, Alpha{255, 0}));

using Change = Behaviours;

TEST_F(Change, AFailingGetWindowLongGivesTheLayeredBitAloneAndAnyHandleIsPassedOn) {
    for (Handle h : {0, INT32_MIN, INT32_MAX, -1}) {
        form.label3.text_ = DecimalText(h);
        change(20);
        EXPECT_EQ(ws.log(), Applied(h, kWsExLayered, 235)) << h;
    }
}

// A capture touches no window: the first target keeps what was set, and the
// next change goes to the second alone.
TEST_F(Change, ASecondTargetLeavesTheFirstAsItWasSet) {
    ws.keyState = kDown;
    for (Handle target : {1234, 77}) {
        ws.under = target;
        ws.count = 0;
        tick();
        if (target == 1234) change(30);
    }
    EXPECT_EQ(ws.log(), (Calls{{"GetCursorPos", {0, 0}}, {"WindowFromPoint", {0, 0}}, {"GetKeyState", {0x70}}}));
    change(40);
    EXPECT_EQ(ws.log(), Applied(77, kWsExLayered, 215));
}

TEST_F(Change, TextThatIsNoHandleChangesNoWindow) {
    for (std::u16string_view text : {kNotSet, u"", u"12a", u"2147483648", u"-2147483649"}) {
        form.label3.text_ = Text(text);
        change(50);
        EXPECT_EQ(form.label1.text_, u"50");
        EXPECT_EQ(ws.count, 0);
    }
}

// The handler is noexcept: an error it does not trap ends the test program.
TEST_F(Change, EveryErrorEndsTheHandlerQuietly) {
    form.label3.text_ = DecimalText(kTarget);
    form.label1.failWrite = true;
    change(5);
    EXPECT_EQ(ws.count, 0);

    form.label1.failWrite = false;
    form.label3.failRead = true;
    change(6);
    EXPECT_EQ(form.label1.text_, u"6");
    EXPECT_EQ(ws.count, 0);

    form.label3.failRead = false;
    ws.unbound = "GetWindowLongA";
    change(7);
    EXPECT_EQ(ws.count, 0);

    ws.unbound = "SetLayeredWindowAttributes";
    change(8);
    EXPECT_EQ(ws.log(), (Calls{{"GetWindowLongA", {kTarget, -20}}, {"SetWindowLongA", {kTarget, -20, kWsExLayered}}}));
}

TEST_F(Change, ValuesOutsideTheBarsRangeOverflowInsteadOfWrapping) {
    form.label3.text_ = DecimalText(kTarget);
    for (std::int16_t v : {256, -1, INT16_MIN, INT16_MAX}) {
        try {
            AlphaForValue(v);
            ADD_FAILURE() << v << " gave an alpha";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), ErrorCode::Overflow) << v;
        }
        change(v);  // the style is written, the alpha is not
        EXPECT_EQ(ws.count, 2) << v;
    }
}

}  // namespace
}  // namespace kavrelo
